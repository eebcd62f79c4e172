#include "obs/rinex_format.h"

#include <cstring>

namespace rawconv {

size_t FormatFixed(double value, FixedFormat format, char* out, size_t out_size) {
  if (out_size == 0) return 0;
  int n = std::snprintf(out, out_size, "%*.*f", format.Width, format.Decimals, value);
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  size_t length = static_cast<size_t>(n);
  return length < out_size ? length : out_size - 1;
}

void RinexBufferInit(RinexBuffer* out, std::FILE* stream) {
  out->Stream = stream;
  out->Length = 0;
}

void RinexFlush(RinexBuffer* out) {
  if (out->Length > 0 && out->Stream) std::fwrite(out->Data, 1, out->Length, out->Stream);
  out->Length = 0;
}

void AppendBytes(RinexBuffer* out, const char* text, size_t length) {
  while (length > 0) {
    if (out->Length == sizeof out->Data) RinexFlush(out);
    size_t room = sizeof out->Data - out->Length;
    size_t part = length < room ? length : room;
    std::memcpy(out->Data + out->Length, text, part);
    out->Length += part;
    text += part;
    length -= part;
  }
}

void AppendText(RinexBuffer* out, const char* text) { AppendBytes(out, text, std::strlen(text)); }

void AppendBlanks(RinexBuffer* out, int count) {
  static const char kBlanks[] = "                                                  ";  // 50
  while (count > 0) {
    int part = count < 50 ? count : 50;
    AppendBytes(out, kBlanks, static_cast<size_t>(part));
    count -= part;
  }
}

void AppendPadded(RinexBuffer* out, const char* text, size_t length, int width, bool left) {
  int pad = width > 0 && length < static_cast<size_t>(width) ? width - static_cast<int>(length) : 0;
  if (!left) AppendBlanks(out, pad);
  AppendBytes(out, text, length);
  if (left) AppendBlanks(out, pad);
}

void AppendLeft(RinexBuffer* out, const char* text, int width) {
  AppendPadded(out, text, std::strlen(text), width, true);
}

void AppendRight(RinexBuffer* out, const char* text, int width) {
  AppendPadded(out, text, std::strlen(text), width, false);
}

void AppendInt(RinexBuffer* out, long value, int width) {
  char field[32];
  int n = std::snprintf(field, sizeof field, "%*ld", width, value);
  if (n <= 0) return;
  size_t length = static_cast<size_t>(n);
  AppendBytes(out, field, length < sizeof field ? length : sizeof field - 1);
}

void AppendFixed(RinexBuffer* out, double value, FixedFormat format) {
  char field[kFixedFieldMax];
  AppendBytes(out, field, FormatFixed(value, format, field, sizeof field));
}

void AppendNewline(RinexBuffer* out) { AppendBytes(out, "\n", 1); }

void AppendLabel(RinexBuffer* out, const char* label) {
  AppendLeft(out, label, kLabelColumns);
  AppendNewline(out);
}

size_t BoundedLength(const char* text, size_t size) {
  const void* end = std::memchr(text, '\0', size);
  return end ? static_cast<size_t>(static_cast<const char*>(end) - text) : size;
}

}  // namespace rawconv
