// Qt ends a program that reaches no display with an abort, after a screenful
// of platform-plugin messages. While a NoDisplayReport lives, Qt's messages
// are held back; if the platform cannot start, one line on stderr says what
// is missing and that velotrunk-relay runs without a display, and the
// program exits with status 1. Once the application has started, Release()
// (or the destructor) passes the held messages on.
#pragma once

class NoDisplayReport {
 public:
  NoDisplayReport();
  ~NoDisplayReport() { Release(); }
  NoDisplayReport(const NoDisplayReport&) = delete;
  NoDisplayReport& operator=(const NoDisplayReport&) = delete;

  void Release();
};
