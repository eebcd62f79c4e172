// Checks of the header facts the user supplies (columns in header_metadata.h).
#include "obs/header_metadata.h"

#include "obs/rinex_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rawconv {
namespace {

// Largest magnitude of F14.4 that keeps 14 columns: "-99999999.9999"
// (negative) or "999999999.9999".
constexpr double kMaxNegative = -99999999.99995;
constexpr double kMaxPositive = 999999999.99995;
constexpr size_t kMaxTripleText = 256;

char* FieldOf(HeaderMetadata* m, MetadataField field) {
  switch (field) {
    case MetadataField::kMarkerNumber: return m->MarkerNumber;
    case MetadataField::kReceiverNumber: return m->ReceiverNumber;
    case MetadataField::kReceiverType: return m->ReceiverType;
    case MetadataField::kReceiverVersion: return m->ReceiverVersion;
    case MetadataField::kAntennaNumber: return m->AntennaNumber;
    case MetadataField::kAntennaType: return m->AntennaType;
  }
  return nullptr;
}

const char* FieldName(MetadataField field) {
  switch (field) {
    case MetadataField::kMarkerNumber: return "marker number";
    case MetadataField::kReceiverNumber: return "receiver number";
    case MetadataField::kReceiverType: return "receiver type";
    case MetadataField::kReceiverVersion: return "receiver version";
    case MetadataField::kAntennaNumber: return "antenna number";
    case MetadataField::kAntennaType: return "antenna type";
  }
  return "field";
}

}  // namespace

bool HeaderTextFits(const char* text, int columns) {
  if (text == nullptr || columns < 0) return false;
  for (int i = 0; i <= columns; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\0') return true;
    if (c < 0x20 || c > 0x7E) return false;
  }
  return false;
}

bool HeaderNumberFits(double value) {
  return std::isfinite(value) && value > kMaxNegative && value < kMaxPositive;
}

CheckResult SetMetadataText(HeaderMetadata* metadata, MetadataField field, const char* text) {
  char* target = FieldOf(metadata, field);
  if (target == nullptr || text == nullptr) return CheckFailed("Bad header field");
  if (!HeaderTextFits(text, kMetadataTextColumns))
    return CheckFailed("Bad %s \"%.40s\": at most %d printable characters", FieldName(field),
                       text, kMetadataTextColumns);
  std::snprintf(target, kMetadataTextColumns + 1, "%s", text);
  return CheckOk();
}

CheckResult AddMetadataComment(HeaderMetadata* metadata, const char* text) {
  if (text == nullptr) return CheckFailed("Bad comment");
  if (metadata->CommentCount < 0 || metadata->CommentCount >= kMaxMetadataComments)
    return CheckFailed("Too many comments: at most %d", kMaxMetadataComments);
  if (!HeaderTextFits(text, kCommentColumns))
    return CheckFailed("Bad comment \"%.40s\": at most %d printable characters", text,
                       kCommentColumns);
  std::snprintf(metadata->Comments[metadata->CommentCount], kCommentColumns + 1, "%s", text);
  ++metadata->CommentCount;
  return CheckOk();
}

CheckResult ParseHeaderTriple(const char* text, const char* what, double values[3]) {
  if (text == nullptr || std::memchr(text, '\0', kMaxTripleText) == nullptr)
    return CheckFailed("Bad %s: text missing or too long", what);
  double parsed[3] = {0.0, 0.0, 0.0};
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    parsed[i] = std::strtod(p, &end);
    if (end == p) return CheckFailed("Bad %s \"%.60s\": expected three numbers a,b,c", what, text);
    while (*end == ' ') ++end;
    if (i < 2 && *end != ',')
      return CheckFailed("Bad %s \"%.60s\": expected three numbers a,b,c", what, text);
    if (i == 2 && *end != '\0')
      return CheckFailed("Bad %s \"%.60s\": expected three numbers a,b,c", what, text);
    if (!HeaderNumberFits(parsed[i]))
      return CheckFailed("Bad %s \"%.60s\": a value does not fit F14.4", what, text);
    p = end + 1;
  }
  for (int i = 0; i < 3; ++i) values[i] = parsed[i];
  return CheckOk();
}

const char* MetadataText(const HeaderMetadata& metadata, MetadataField field) {
  const char* text = FieldOf(const_cast<HeaderMetadata*>(&metadata), field);
  return text != nullptr ? text : "";
}

namespace {

void AppendField(RinexBuffer* out, const char* text, size_t size, int width) {
  size_t length = BoundedLength(text, size);
  if (length > static_cast<size_t>(width)) length = static_cast<size_t>(width);
  AppendPadded(out, text, length, width, true);
}

void AppendTriple(RinexBuffer* out, double a, double b, double c, const char* label) {
  AppendFixed(out, a, kFmtPosition);
  AppendFixed(out, b, kFmtPosition);
  AppendFixed(out, c, kFmtPosition);
  AppendBlanks(out, 18);
  AppendLabel(out, label);
}

}  // namespace

void AppendMetadataComments(RinexBuffer* out, const HeaderMetadata* metadata) {
  if (metadata == nullptr) return;
  const int count = metadata->CommentCount < kMaxMetadataComments ? metadata->CommentCount
                                                                   : kMaxMetadataComments;
  for (int i = 0; i < count; ++i) {
    AppendField(out, metadata->Comments[i], sizeof metadata->Comments[i], kCommentColumns);
    AppendLabel(out, kLabelComment);
  }
}

void AppendMarkerNumber(RinexBuffer* out, const HeaderMetadata* metadata) {
  if (metadata == nullptr || metadata->MarkerNumber[0] == '\0') return;
  AppendField(out, metadata->MarkerNumber, sizeof metadata->MarkerNumber, kMetadataTextColumns);
  AppendBlanks(out, kCommentColumns - kMetadataTextColumns);
  AppendLabel(out, kLabelMarkerNumber);
}

void AppendReceiverLine(RinexBuffer* out, const HeaderMetadata* metadata,
                        const char* receiver_text, size_t receiver_size) {
  if (metadata == nullptr) {
    AppendBlanks(out, kLabelColumns);
    AppendPadded(out, receiver_text, BoundedLength(receiver_text, receiver_size), kLabelColumns,
                 true);
    AppendBlanks(out, kLabelColumns);
  } else {
    AppendField(out, metadata->ReceiverNumber, sizeof metadata->ReceiverNumber, kLabelColumns);
    if (metadata->ReceiverType[0] != '\0') {
      AppendField(out, metadata->ReceiverType, sizeof metadata->ReceiverType, kLabelColumns);
    } else {
      AppendPadded(out, receiver_text, BoundedLength(receiver_text, receiver_size),
                   kLabelColumns, true);
    }
    AppendField(out, metadata->ReceiverVersion, sizeof metadata->ReceiverVersion, kLabelColumns);
  }
  AppendLabel(out, kLabelReceiver);
}

void AppendAntennaLine(RinexBuffer* out, const HeaderMetadata* metadata) {
  if (metadata == nullptr) {
    AppendBlanks(out, 3 * kLabelColumns);
  } else {
    AppendField(out, metadata->AntennaNumber, sizeof metadata->AntennaNumber, kLabelColumns);
    AppendField(out, metadata->AntennaType, sizeof metadata->AntennaType, kLabelColumns);
    AppendBlanks(out, kLabelColumns);
  }
  AppendLabel(out, kLabelAntenna);
}

void AppendPositionLine(RinexBuffer* out, const HeaderMetadata* metadata, double x, double y,
                        double z) {
  if (metadata != nullptr && metadata->HasPosition) {
    AppendTriple(out, metadata->Position[0], metadata->Position[1], metadata->Position[2],
                 kLabelApproxPosition);
  } else {
    AppendTriple(out, x, y, z, kLabelApproxPosition);
  }
}

void AppendAntennaDeltaLine(RinexBuffer* out, const HeaderMetadata* metadata, double height) {
  if (metadata != nullptr && metadata->HasAntennaDelta) {
    AppendTriple(out, metadata->AntennaDelta[0], metadata->AntennaDelta[1],
                 metadata->AntennaDelta[2], kLabelAntennaDelta);
  } else {
    AppendTriple(out, height, 0.0, 0.0, kLabelAntennaDelta);
  }
}

}  // namespace rawconv
