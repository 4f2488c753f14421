#pragma once
// Helpers for the tests of the file commands and the paper dialogs: files of bytes, pictures
// written by the engine's own writers, and a driver for the modal dialog a command opens.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/TrueCnvs.h"
#include "engine/io/CanvasFiles.h"
#include "painter/Main.h"
#include "platform/core/Settings.h"
#include "tests/painter/StrokeFixture.h"

inline std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// A canvas whose every pixel differs from its neighbours.
inline void FillPattern(TTC& c, int32_t w, int32_t h) {
  c.SetSize(w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      c.SetPixel(x, y, 0xFF000000u | static_cast<uint32_t>((x * 37) & 0xFF) << 16 |
                           static_cast<uint32_t>((y * 53) & 0xFF) << 8 | static_cast<uint32_t>((x + y) * 11 & 0xFF));
}

// Runs `act` on the next modal dialog as soon as it is shown (from inside its own loop). The
// wait ends with the test's main window.
inline void OnNextModal(std::function<void(QWidget*)> act) {
  auto* t = new QTimer(VLMain);
  t->setInterval(0);
  QObject::connect(t, &QTimer::timeout, t, [t, act] {
    if (QWidget* m = QApplication::activeModalWidget()) {
      t->stop();
      t->deleteLater();
      act(m);
    }
  });
  t->start();
}

// The painter, shown, with the settings value "Path" at hand.
class FileFixture : public StrokeFixture {
 protected:
  int Windows() {
    Settle();
    return static_cast<int>(VLMain->DrawWindows().size());
  }
  static std::string ReadSetting(const std::string& name) {
    plat::TRegistry reg;
    reg.OpenKey(kVelloraKey, true);
    return reg.ReadString(name).value_or("");
  }
  static void WriteSetting(const std::string& name, const std::string& value) {
    plat::TRegistry reg;
    reg.OpenKey(kVelloraKey, true);
    reg.WriteString(name, value);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : Messages.Messages) t.push_back(m.Text);
    return t;
  }
  // Plays an import to its end.
  static bool PlayToEnd(TDrawWindow* w) { return QTest::qWaitFor([w] { return !w->Playing; }, 60000); }
  // Waits until every queued file has been opened.
  static bool DrainQueue() {
    const bool ok = QTest::qWaitFor([] { return VLMain->PendingOpens.empty() && !QApplication::activeModalWidget(); }, 60000);
    Settle();
    return ok;
  }
};
