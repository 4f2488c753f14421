#include "session/wire/WireText.h"

#include <iconv.h>

#include "session/wire/SessionFrame.h"

#include <cerrno>
#include <cstring>

namespace {

// One converter per direction for the whole program (the session runs on one thread);
// each use starts from the initial shift state.
class TConverter {
 public:
  TConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~TConverter() {
    if (Ok()) iconv_close(cd_);
  }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    return cd_;
  }

 private:
  iconv_t cd_;
};

TConverter& ToWire() {
  static TConverter c("CP932", "UTF-8");
  return c;
}

TConverter& FromWire() {
  static TConverter c("UTF-8", "CP932");
  return c;
}

bool IsLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Bytes of the UTF-8 sequence that starts with b, judged by the lead byte alone.
size_t Utf8Length(uint8_t b) {
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) return 2;
  if ((b & 0xF0) == 0xE0) return 3;
  if ((b & 0xF8) == 0xF0) return 4;
  return 1;
}

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

size_t WireTextCut(const uint8_t* p, size_t n, size_t maxBytes) {
  size_t i = 0;
  while (i < n) {
    const size_t len = IsLeadByte(p[i]) ? 2 : 1;
    if (i + len > maxBytes || i + len > n) break;
    i += len;
  }
  return i;
}

std::string EncodeWireText(const std::string& utf8, size_t maxBytes) {
  std::string out;
  TConverter& conv = ToWire();
  size_t i = 0;
  while (i < utf8.size()) {
    size_t len = Utf8Length(static_cast<uint8_t>(utf8[i]));
    if (i + len > utf8.size()) len = utf8.size() - i;
    char buf[8];
    size_t produced = 0;
    if (utf8[i] == '\0') {
      break;  // a zero would end the text on the wire anyway
    }
    if (conv.Ok()) {
      char* in = const_cast<char*>(utf8.data() + i);
      size_t inLeft = len;
      char* o = buf;
      size_t outLeft = sizeof buf;
      iconv_t cd = conv.Get();
      if (iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1) && inLeft == 0 &&
          iconv(cd, nullptr, nullptr, &o, &outLeft) != static_cast<size_t>(-1)) {
        produced = sizeof buf - outLeft;
      }
    }
    if (produced == 0) {
      // Not convertible: a bad sequence is one byte, a good one the whole character.
      buf[0] = '?';
      produced = 1;
    }
    if (out.size() + produced > maxBytes) break;
    out.append(buf, produced);
    i += len;
  }
  return out;
}

std::string DecodeWireText(const uint8_t* p, size_t n) {
  const void* zero = std::memchr(p, 0, n);
  if (zero) n = static_cast<size_t>(static_cast<const uint8_t*>(zero) - p);
  std::string out;
  if (n == 0) return out;
  TConverter& conv = FromWire();
  if (!conv.Ok()) {
    for (size_t i = 0; i < n; ++i) out += p[i] < 0x80 ? static_cast<char>(p[i]) : '?';
    return out;
  }
  // A CP932 byte never needs more than three UTF-8 bytes.
  std::string buf(3 * n + 8, '\0');
  iconv_t cd = conv.Get();
  char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(p));
  size_t inLeft = n;
  while (inLeft > 0) {
    char* o = buf.data();
    size_t outLeft = buf.size();
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    out.append(buf.data(), buf.size() - outLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == EILSEQ) {
      out += kReplacement;
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    } else if (errno == EINVAL) {
      out += kReplacement;  // a lead byte without its trail byte
      break;
    } else if (errno != E2BIG) {
      break;
    }
  }
  return out;
}

std::string WireFieldText(const std::string& utf8) {
  const std::string wire = EncodeWireText(utf8, kMaxFieldText);
  return DecodeWireText(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
}
