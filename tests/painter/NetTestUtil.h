#pragma once
// Sessions of the painter over 127.0.0.1 against raw peers that speak literal bytes: frames
// are built and read here by hand, not by the session's own encoder.
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PainterFixture.h"
#include "engine/Block.h"
#include "engine/Stroke.h"
#include "tests/painter/StrokeFixture.h"
#include "painter/ChatWin.h"
#include "session/MySocket.h"
#include "painter/NetWin.h"

using Octets = std::vector<uint8_t>;

inline Octets Le(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}

inline int32_t ReadLe(const uint8_t* p) {
  return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

inline Octets Cat(std::initializer_list<Octets> parts) {
  Octets out;
  for (const Octets& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A text in a zero-padded field.
inline Octets Field(const std::string& text, size_t size) {
  Octets b(size, 0);
  std::copy(text.begin(), text.end(), b.begin());
  return b;
}

// Runs with an environment variable set to a value, as another program sees it.
template <class F>
void WithEnv(const char* name, const std::string& value, F f) {
  const char* old = getenv(name);
  const std::string keep = old ? old : "";
  setenv(name, value.c_str(), 1);
  f();
  if (old) setenv(name, keep.c_str(), 1);
  else unsetenv(name);
}

// A port that nothing listens on just now.
inline uint16_t FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

// A frame: kind, sender, destination, length, payload.
inline Octets Frame(int32_t kind, int32_t sender, int32_t dest, const Octets& payload) {
  return Cat({Le(kind), Le(sender), Le(dest), Le(static_cast<int32_t>(payload.size())), payload});
}

struct TRawFrame {
  int32_t Kind = 0, Sender = 0, Dest = 0;
  Octets Payload;
};

inline std::vector<TRawFrame> ParseFrames(const Octets& b) {
  std::vector<TRawFrame> out;
  size_t pos = 0;
  while (b.size() - pos >= 16) {
    const int32_t len = ReadLe(&b[pos + 12]);
    if (len < 0 || b.size() - pos - 16 < static_cast<size_t>(len)) break;
    TRawFrame f{ReadLe(&b[pos]), ReadLe(&b[pos + 4]), ReadLe(&b[pos + 8]), {}};
    f.Payload.assign(b.begin() + static_cast<long>(pos) + 16, b.begin() + static_cast<long>(pos) + 16 + len);
    out.push_back(std::move(f));
    pos += 16 + static_cast<size_t>(len);
  }
  return out;
}

// One end of a raw connection: what it read, and what it writes.
class TRawConn {
 public:
  TRawConn() : sock_(std::make_unique<QTcpSocket>()) { Bind(); }
  explicit TRawConn(QTcpSocket* accepted) : sock_(accepted) {
    accepted->setParent(nullptr);
    Bind();
  }
  bool Connect(uint16_t port) {
    sock_->connectToHost(QHostAddress::LocalHost, port);
    return sock_->waitForConnected(3000);
  }
  void Send(const Octets& b) {
    sock_->write(reinterpret_cast<const char*>(b.data()), static_cast<qint64>(b.size()));
    sock_->flush();
  }
  std::vector<TRawFrame> Frames() const { return ParseFrames(In); }
  std::vector<TRawFrame> FramesOf(int32_t kind) const {
    std::vector<TRawFrame> out;
    for (TRawFrame& f : Frames()) {
      if (f.Kind == kind) out.push_back(std::move(f));
    }
    return out;
  }
  // The data bytes from one sender, in order.
  Octets DataFrom(int32_t sender) const {
    Octets out;
    for (const TRawFrame& f : FramesOf(0)) {
      if (f.Sender == sender) out.insert(out.end(), f.Payload.begin(), f.Payload.end());
    }
    return out;
  }
  bool Closed() const { return closed_; }
  void Close() { sock_->disconnectFromHost(); }
  QTcpSocket& Socket() { return *sock_; }

  Octets In;

 private:
  void Bind() {
    QObject::connect(sock_.get(), &QTcpSocket::readyRead, sock_.get(), [this] { ReadAll(); });
    QObject::connect(sock_.get(), &QTcpSocket::disconnected, sock_.get(), [this] {
      ReadAll();
      closed_ = true;
    });
  }
  void ReadAll() {
    const QByteArray b = sock_->readAll();
    In.insert(In.end(), b.begin(), b.end());
  }
  std::unique_ptr<QTcpSocket> sock_;
  bool closed_ = false;
};

// The painter with its network window, its timer ticked by the test.
class NetFixture : public StrokeFixture {
 protected:
  void SetUp() override {
    StrokeFixture::SetUp();
    // The test ticks the handshake itself; the window's own timer never comes round.
    NetWindow->Timer1->setInterval(3600 * 1000);
  }

  // Runs events (and, with ticks, the handshake timer) until pred holds or ms have passed.
  // With advanceMs the frozen clock moves on by that much each round (the replay is paced).
  bool PumpUntil(const std::function<bool()>& pred, bool ticks = true, int ms = 5000, uint32_t advanceMs = 0) {
    QElapsedTimer t;
    t.start();
    while (true) {
      if (advanceMs) plat::AdvanceFakeClock(advanceMs);
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      if (ticks && NetWindow->Timer1->isActive()) NetWindow->Timer1Timer();
      if (NetState.Socket) NetState.Socket->Flush();
      if (pred()) return true;
      if (t.elapsed() > ms) return false;
      if (!advanceMs) QThread::usleep(300);
    }
  }
  // The painter itself becomes the active window (a tool window shown over it, such as the
  // chat window, counts as the painter's for isActiveWindow, but strokes want the painter).
  static bool ActivatePainter() {
    for (int i = 0; i < 200 && QApplication::activeWindow() != VLMain; ++i) {
      VLMain->activateWindow();
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return QApplication::activeWindow() == VLMain;
  }

  // Runs update steps back to back, the clock moving 10 ms each, until pred holds.
  bool StepUntil(const std::function<bool()>& pred, int maxSteps = 20000) {
    for (int i = 0; i < maxSteps; ++i) {
      if (pred()) return true;
      plat::AdvanceFakeClock(10);
      VLMain->UpdateStep();
      if (i % 64 == 0) QApplication::processEvents();
    }
    return pred();
  }
  void PumpFor(int ms, bool ticks = true) {
    PumpUntil([] { return false; }, ticks, ms);
  }

  std::vector<std::string> MessageLines() const {
    std::vector<std::string> out;
    const QStringList l = ChatWindow->MemoMsg->toPlainText().split('\n');
    for (const QString& s : l) out.push_back(s.toStdString());
    return out;
  }
  bool HasLine(const std::string& line) const {
    for (const std::string& l : MessageLines()) {
      if (l == line) return true;
    }
    return false;
  }
  std::vector<std::string> MemberLines() const {
    std::vector<std::string> out;
    const QString t = ChatWindow->MemoList->toPlainText();
    if (t.isEmpty()) return out;
    for (const QString& s : t.split('\n')) out.push_back(s.toStdString());
    return out;
  }
  // A session paper's close offers to save its log: cancelled.
  plat::TFileDialogRecorder Dialogs;

  int PaperCount() const { return static_cast<int>(VLMain->MdiArea->subWindowList().size()); }
  bool Unlocked() const {
    return NetWindow->ButtonConnect->isEnabled() && NetWindow->ButtonStandby->isEnabled() &&
           NetWindow->EditIP->isEnabled() && !NetWindow->Timer1->isActive() && NetState.Socket == nullptr &&
           NetState.Phase == npIdle;
  }
};

// Every event of a stream, from its first byte; false at a code that is no event.
inline bool WholeEventsOnly(const Octets& b, int* count = nullptr) {
  size_t pos = 0;
  int n = 0;
  while (pos < b.size()) {
    int32_t size = 0;
    const TEventMeasure m = MeasureEvent(b.data() + pos, static_cast<int32_t>(b.size() - pos), size);
    if (m == TEventMeasure::NotEvent) return false;
    if (m == TEventMeasure::Short) break;
    pos += static_cast<size_t>(size);
    ++n;
  }
  if (count) *count = n;
  return true;
}

// A paper of the session's size and layers with a stream played onto it.
inline std::unique_ptr<TPaper> Replay(int32_t width, int32_t height, int32_t layers, const Octets& stream) {
  auto p = std::make_unique<TPaper>();
  p->Init("NONAME", width, height);
  p->Layers->Flow().SetSlotCount(4);
  for (int32_t i = 1; i < layers; ++i) p->Layers->AddLayer(lkMultiply);
  TEventPacket pk;
  if (!stream.empty()) pk.Data().WriteBuffer(stream.data(), static_cast<int32_t>(stream.size()));
  TStroke brush;
  while (true) {
    const int32_t before = pk.Data().ReadPos();
    const bool inStroke = pk.InStroke();
    if (!inStroke && pk.Data().Remaining() == 0) break;
    uint16_t code = 0;
    uint8_t refit = 0;
    if (!p->PlayEvent(pk, brush, code, refit, nullptr)) break;
    if (!inStroke && pk.Data().ReadPos() == before) break;
  }
  p->Composite();
  return p;
}

// Pixels of one layer that differ between two papers.
inline int64_t LayerDifference(const TPaper& a, const TPaper& b, int32_t layer) {
  const TBlockImage* x = a.Layers->LayerImage(layer);
  const TBlockImage* y = b.Layers->LayerImage(layer);
  if (!x || !y) return -1;
  int64_t n = 0;
  for (int32_t j = 0; j < a.Height(); ++j) {
    for (int32_t i = 0; i < a.Width(); ++i) n += (x->GetPixel(i, j) & 0xFFFFFF) != (y->GetPixel(i, j) & 0xFFFFFF);
  }
  return n;
}

// Pixels of one layer that are not the layer's cleared colour.
inline int64_t LayerInk(const TPaper& a, int32_t layer) {
  const TBlockImage* x = a.Layers->LayerImage(layer);
  if (!x) return -1;
  int64_t n = 0;
  for (int32_t j = 0; j < a.Height(); ++j) {
    for (int32_t i = 0; i < a.Width(); ++i) n += (x->GetPixel(i, j) & 0xFFFFFF) != 0xFFFFFF;
  }
  return n;
}

// Data frames of at most 4080 bytes from one sender to all, back to back.
inline Octets DataFrames(int32_t sender, const Octets& bytes) {
  Octets out;
  out.reserve(bytes.size() + bytes.size() / 4080 * 16 + 16);
  for (size_t at = 0; at < bytes.size(); at += 4080) {
    const Octets piece(bytes.begin() + static_cast<long>(at),
                       bytes.begin() + static_cast<long>(std::min(bytes.size(), at + 4080)));
    const Octets f = Frame(0, sender, -1, piece);
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

// A flood of events on one layer that are large but quick to play: small polygons of many
// points, in ever other colours over each other, and now and then a short stroke, so that
// only every event in its order gives the same pixels.
inline Octets FloodEvents(int32_t layer, size_t bytes) {
  TEventPacket r;
  TStroke b;
  b.LoadPreset(bkPen, 1);
  b.SetWidth(2.0f);
  b.SetLayer(layer);
  const auto l = static_cast<uint8_t>(layer);
  std::vector<TPoint> zigzag(300);
  for (uint32_t k = 0; static_cast<size_t>(r.Data().Size()) < bytes; ++k) {
    const auto x = static_cast<int32_t>(k * 7 % 200), y = static_cast<int32_t>(k * 13 % 120);
    for (size_t i = 0; i < zigzag.size(); ++i)
      zigzag[i] = TPoint{x + static_cast<int32_t>(i % 2 ? 24 : 0), y + static_cast<int32_t>(i * 20 / zigzag.size())};
    r.WriteFillPolygon(l, zigzag.data(), static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                       static_cast<uint8_t>(k * 3), static_cast<int32_t>(zigzag.size()));
    if (k % 16 == 0) {
      r.BeginStroke(b, static_cast<float>(x), static_cast<float>(y), 1.0f);
      for (int i = 1; i <= 3; ++i) r.AddStrokePoint(static_cast<float>(x + 5 * i), static_cast<float>(y + 3 * i), 0.8f);
      r.EndStroke();
    }
  }
  return Octets(r.Data().Memory(), r.Data().Memory() + r.Data().Size());
}

// The whole events at the start of a stream.
inline Octets WholeEventsPrefix(const Octets& b) {
  size_t pos = 0;
  while (pos < b.size()) {
    int32_t size = 0;
    if (MeasureEvent(b.data() + pos, static_cast<int32_t>(b.size() - pos), size) != TEventMeasure::Complete) break;
    pos += static_cast<size_t>(size);
  }
  return Octets(b.begin(), b.begin() + static_cast<long>(pos));
}

// The strokes and polygons (fills and clears) on one layer of a stream of whole events, in
// their order.
inline Octets EventsOnLayer(const Octets& b, int32_t layer) {
  Octets out;
  size_t pos = 0;
  while (pos < b.size()) {
    int32_t size = 0;
    if (MeasureEvent(b.data() + pos, static_cast<int32_t>(b.size() - pos), size) != TEventMeasure::Complete) break;
    const int code = b[pos] | (b[pos + 1] << 8);
    const bool kept = code <= ecStrokeLast || code == ecFillPolygon || code == ecClearPolygon;
    if (kept && size > 2 && b[pos + 2] == layer)
      out.insert(out.end(), b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos) + size);
    pos += static_cast<size_t>(size);
  }
  return out;
}

// Resets a connection at once, as a program that dies with bytes still unread does: the peer
// is told at once, whatever it has not read yet.
inline void Reset(QTcpSocket& s) {
  const linger now{1, 0};
  setsockopt(static_cast<int>(s.socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
  s.abort();
}

// Resident memory of a process (this one by default) in bytes, from its status file.
inline int64_t ResidentBytes(const std::string& pid = "self") {
  FILE* f = fopen(("/proc/" + pid + "/status").c_str(), "r");
  if (!f) return -1;
  char line[256];
  int64_t kb = -1;
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, "VmRSS:", 6) == 0) kb = atoll(line + 6);
  }
  fclose(f);
  return kb * 1024;
}
