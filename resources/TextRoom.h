#pragma once

class QWidget;

// Keeps the form's geometry, except that a push button whose text does not
// fit the room its style leaves inside it grows around its centre by what
// the font metrics say is missing. Styles with wide bevels (Motif, CDE) need
// it for the small buttons; it is worked out again after every style change,
// from the form's own geometry.
void keepButtonTextsInRoom(QWidget *form);
