#include "qc/metadata.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "meta/text_fields.h"

namespace rawconv {
namespace qc {
namespace {

// Blanks at the ends dropped, runs of blanks inside made one, upper case.
std::string Collapsed(const std::string& text) {
  return meta::Upper(meta::CollapsedBlanks(text));
}

std::string Metres(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f m", v);
  return text;
}

}  // namespace

PositionDifference Difference(const Vec3& data, const Vec3& other, double threshold) {
  PositionDifference d;
  const Enu local = ToLocal(MakeLocalFrame(other), data);
  d.North = local.North;
  d.East = local.East;
  d.Up = local.Up;
  d.Distance = std::sqrt(local.North * local.North + local.East * local.East + local.Up * local.Up);
  d.Threshold = threshold;
  d.Valid = std::isfinite(d.Distance);
  d.Warn = d.Valid && d.Distance > threshold;
  return d;
}

std::string Letters(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u)) out += static_cast<char>(std::toupper(u));
  }
  return out;
}

void CompareMetadata(QcMetadata* m) {
  m->Warnings.clear();
  m->FromHeader = PositionDifference();
  m->FromReference = PositionDifference();
  m->ReceiverType = TextComparison();
  m->ReceiverVersion = TextComparison();
  m->AntennaType = TextComparison();
  const StationReference& ref = m->Reference;
  const std::string source = ref.Source.empty() ? std::string("the station's records") : ref.Source;
  if (m->Data.Valid) {
    if (m->HasHeaderPosition) {
      m->FromHeader = Difference(m->Data.Mean, m->HeaderPosition, kHeaderPositionWarnMetres);
      if (m->FromHeader.Warn) {
        m->Warnings.push_back("the position from the data is " + Metres(m->FromHeader.Distance) +
                              " from APPROX POSITION XYZ (more than " + Metres(kHeaderPositionWarnMetres) + ")");
      }
    }
    if (ref.HasPosition) {
      // Mostly ionosphere-free epochs: the tighter bound.
      const bool iono_free = m->Data.IonoFreeEpochs * 2 > m->Data.EpochsSolved;
      const double threshold = iono_free ? kReferencePositionWarnMetres : kReferencePositionWarnSingleMetres;
      Vec3 p;
      p.X = ref.Position[0];
      p.Y = ref.Position[1];
      p.Z = ref.Position[2];
      m->FromReference = Difference(m->Data.Mean, p, threshold);
      if (m->FromReference.Warn) {
        m->Warnings.push_back("the position from the data is " + Metres(m->FromReference.Distance) +
                              " from the position of " + source + " (more than " + Metres(threshold) + ")");
      }
    }
  } else if (m->HasEphemerides) {
    m->Warnings.push_back("no position from the data: " + m->Data.Reason);
  }
  const std::string gpb = Letters(m->ReceiverText);
  if (!ref.ReceiverType.empty()) {
    const std::string type = Letters(ref.ReceiverType);
    m->ReceiverType.Compared = true;
    m->ReceiverType.Agrees = !type.empty() && !gpb.empty() &&
                             (gpb.find(type) != std::string::npos || type.find(gpb) != std::string::npos);
    if (!m->ReceiverType.Agrees) {
      m->Warnings.push_back("the GPB file's receiver \"" + m->ReceiverText + "\" is not the receiver \"" +
                            ref.ReceiverType + "\" of " + source);
    }
  }
  if (!ref.ReceiverVersion.empty()) {
    const std::string version = Letters(ref.ReceiverVersion);
    m->ReceiverVersion.Compared = true;
    m->ReceiverVersion.Agrees = !version.empty() && gpb.find(version) != std::string::npos;
  }
  if (!ref.AntennaType.empty() && !Collapsed(m->HeaderAntenna).empty()) {
    m->AntennaType.Compared = true;
    m->AntennaType.Agrees = Collapsed(m->HeaderAntenna) == Collapsed(ref.AntennaType);
    if (!m->AntennaType.Agrees) {
      m->Warnings.push_back("the header's antenna \"" + m->HeaderAntenna + "\" is not the antenna \"" +
                            ref.AntennaType + "\" of " + source);
    }
  }
}

}  // namespace qc
}  // namespace rawconv
