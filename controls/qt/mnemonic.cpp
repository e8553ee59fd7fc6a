#include "mnemonic.h"

#include <QKeySequence>
#include <QWidget>

int RegrabMnemonic(QWidget* widget, int shortcutId, const QString& caption) {
  if (shortcutId) widget->releaseShortcut(shortcutId);
  const QKeySequence key = QKeySequence::mnemonic(caption);
  return key.isEmpty() ? 0 : widget->grabShortcut(key);
}
