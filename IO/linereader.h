// The one line reader behind io_read_line (descriptors) and read_text_line
// (streams): a line ends in CR, LF, CR LF or LF CR, and its line end is kept.
#pragma once

// next() gives the next byte 0-255 or -1 at the end; give_back() returns the
// byte just read to the input.
template <typename Next, typename GiveBack>
char* read_line_with(char* buf, int size, Next next, GiveBack give_back) {
  if (!buf || size < 2) return nullptr;
  int n = 0;
  int end = 0;  // the line-end byte stored, 0 while none
  while (n < size - 1) {
    int c = next();
    if (c < 0) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n' || c == '\r') {
      end = c;
      break;
    }
  }
  if (end) {
    int c = next();
    if (c >= 0) {
      bool pair = (end == '\r' && c == '\n') || (end == '\n' && c == '\r');
      if (!pair) give_back(c);
      else if (n < size - 1) buf[n++] = static_cast<char>(c);
      // A pair's second byte with no room left is taken as part of this line
      // end and not stored: the terminator must stay inside the buffer.
    }
  }
  buf[n] = '\0';
  return n == 0 ? nullptr : buf;
}
