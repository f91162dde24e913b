// Fit and clipping checks of the main dialog's widgets, shared by the form
// tests (offscreen) and the screenshot tests (a real X server).
#pragma once

#include "statusdialog.h"

#include <QLabel>
#include <QString>

namespace status_test {

// True when `text` fits the label's contents, wrapped when the label wraps;
// otherwise false, and *why (when given) says what it needs and has.
bool Fits(const QLabel *label, const QString &text, QString *why);

// False when a heading laid over its box's top edge (a label above its
// parent's top) draws ink where its parent cuts it off.
bool InkInsideParent(QLabel *label);

// Every label and button of the dialog shows its whole text inside its
// box, and every other widget lies inside its parent; failures name `what`.
void ExpectNothingClipped(StatusDialog &dialog, const QString &what);

}  // namespace status_test
