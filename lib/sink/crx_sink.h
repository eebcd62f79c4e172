// CrxSink: turns a RINEX observation file, as the writers stream it, into
// Compact RINEX (1.0 for RINEX 2, 3.0 for RINEX 3; the version is read from
// the file's first header line) and passes it on to the next sink. The
// layout is described in sink/crx_format.h.
//
// Works line by line: it holds a partial line between Writes and the lines
// of at most one epoch, plus per satellite the state of its arcs.
#ifndef RAWCONV_SINK_CRX_SINK_H_
#define RAWCONV_SINK_CRX_SINK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "sink/sink.h"

namespace rawconv {

class CrxSink final : public Sink {
 public:
  // `next` receives the Compact RINEX text; it must outlive this sink.
  // `program` names the writer in the header (cut to 20 characters).
  explicit CrxSink(Sink* next, const char* program = nullptr);
  ~CrxSink() override;
  CrxSink(const CrxSink&) = delete;
  CrxSink& operator=(const CrxSink&) = delete;

  bool Write(const char* data, size_t length) override;
  // Fails when the text ends inside an epoch.
  bool Finish() override;
  void Abort() override;

  // Why the sink failed ("" while it has not).
  const char* Error() const { return error_.c_str(); }

 private:
  struct Arc {
    int64_t diff[4];  // the value and its differences at the last epoch
    int count = 0;    // values in the arc so far (0: no arc)
  };
  struct Satellite {
    std::vector<Arc> arcs;
    std::string flags;
    uint64_t last_epoch = 0;  // epoch number + 1 of its last record
  };
  enum class Phase { kHeader, kEpoch, kRecords, kSpecial };

  bool OnLine(const char* line, size_t length);
  bool OnHeaderLine(const char* line, size_t length);
  bool OnEpochLine(const char* line, size_t length);
  bool EncodeEpoch();
  bool EncodeClock(const char* text, int width, int decimals);
  bool EncodeSatellite(const char* name, const char* const* lines, const size_t* lengths,
                       int line_count, int types);
  void EncodeValue(Arc* arc, bool present, int64_t value);
  void PutDiffText(const std::string& before, const std::string& now, bool whole);
  void ReadTypesLine(const char* line, size_t length);
  int TypesFor(char system) const;
  void EndLine();
  bool Emit();
  bool Fail(const std::string& message);

  Sink* next_;
  std::string program_;
  std::string error_;
  bool failed_ = false;
  bool done_ = false;
  bool header_written_ = false;
  int major_ = 0;
  Phase phase_ = Phase::kHeader;

  std::string partial_;  // a line not yet ended
  std::string out_;      // Compact RINEX text not yet passed on

  // Observation types: RINEX 2 one count; RINEX 3 one per system letter.
  int types2_ = 0;
  int types3_[128] = {};
  char last_system_ = 0;  // system of the last RINEX 3 types line

  // The epoch being collected.
  std::string epoch_text_;             // its lines, each ended by '\n'
  std::vector<size_t> epoch_starts_;   // where each line starts
  size_t epoch_lines_needed_ = 0;
  int epoch_sats_ = 0;
  size_t special_left_ = 0;

  std::string last_epoch_line_;  // the previous epoch line (as coded)
  bool epoch_anew_ = true;
  std::string epoch_line_;       // scratch
  Arc clock_;
  uint64_t epoch_number_ = 0;
  std::unordered_map<uint32_t, Satellite> satellites_;
  std::string flags_;  // scratch
};

}  // namespace rawconv

#endif  // RAWCONV_SINK_CRX_SINK_H_
