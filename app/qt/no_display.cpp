#include "no_display.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct HeldMessage {
  QtMsgType type;
  std::string category;
  QString text;
};

QtMessageHandler previousHandler = nullptr;
std::vector<HeldMessage> held;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

[[noreturn]] void ReportNoDisplay() {
  std::string display = Environment("DISPLAY"), wayland = Environment("WAYLAND_DISPLAY");
  std::string missing = display.empty() && wayland.empty()
                            ? "no display is set (DISPLAY and WAYLAND_DISPLAY are empty)"
                            : "the display cannot be reached (DISPLAY=" + display + ", WAYLAND_DISPLAY=" + wayland + ")";
  std::fprintf(stderr,
               "velotrunk: %s, so the window cannot open; "
               "velotrunk-relay LISTEN_PORT SERVER_ADDRESS SERVER_PORT runs the relay without one.\n",
               missing.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

void PassHeldMessagesOn() {
  if (!previousHandler) return;
  qInstallMessageHandler(previousHandler);
  for (const HeldMessage& message : held) {
    QMessageLogContext context(nullptr, 0, nullptr, message.category.c_str());
    previousHandler(message.type, context, message.text);
  }
  held.clear();
  previousHandler = nullptr;
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg && text.contains("platform plugin")) ReportNoDisplay();
  held.push_back({type, context.category ? context.category : "", text});
  if (type == QtFatalMsg) PassHeldMessagesOn();  // any other fatal error is told as it is
}

}  // namespace

NoDisplayReport::NoDisplayReport() { previousHandler = qInstallMessageHandler(HoldMessage); }

void NoDisplayReport::Release() { PassHeldMessagesOn(); }
