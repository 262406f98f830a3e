#pragma once

class QLineEdit;

namespace ombrix {

class VScrollBar;

// A duration shown twice: digits in a text box and the position of a scroll
// bar. The bar holds the value that counts; the box is where it is typed.

// Text to bar: the text, read as a whole number, goes to the bar. Text that
// is not a number, beyond 16 bits or outside the bar's range is ignored
// without a word: the bar keeps its value and the box what was typed.
void textToBar(const QLineEdit &box, VScrollBar &bar);

// Bar to text: the bar's value in plain decimal digits.
void barToText(const VScrollBar &bar, QLineEdit &box);

} // namespace ombrix
