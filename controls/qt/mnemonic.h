// A control's mnemonic: the Alt+letter shortcut that the "&" in its caption
// marks ("&Port" gives Alt+P), which the control hears as a QShortcutEvent.
#pragma once

class QString;
class QWidget;

// Releases the widget's shortcut `shortcutId` (0 for none) and grabs the one
// `caption` marks; returns its id, 0 when the caption marks none.
int RegrabMnemonic(QWidget* widget, int shortcutId, const QString& caption);
