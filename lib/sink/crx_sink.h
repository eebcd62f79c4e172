// CrxSink: turns a RINEX observation file, as the writers stream it, into
// Compact RINEX (1.0 for RINEX 2, 3.0 for RINEX 3; the version is read from
// the file's first header line) and passes it on to the next sink. The
// layout is described in sink/crx_format.h.
//
// Works line by line: it holds a partial line between Writes and the lines
// of at most one epoch, plus per satellite the state of its arcs. Values are
// read as integers straight from their fixed columns and the coded text is
// formatted into one output block, so a running conversion allocates
// nothing per line or epoch once the first epochs have set the sizes.
//
// A writer may hand each epoch's values beside its text (Sink::Values):
// the epoch's line (RINEX 2) or the values (RINEX 3) then give the names
// and the epoch's data records, when the writer sent them at all, are
// passed over by their byte count, unread; the values are coded as if read
// from them. An epoch handed without values (or RINEX 3 values without
// names) is read from its text. Values wait in order until their epoch
// line comes.
#ifndef RAWCONV_SINK_CRX_SINK_H_
#define RAWCONV_SINK_CRX_SINK_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sink/sink.h"
#include "obs/run_date.h"

namespace rawconv {

class CrxSink final : public Sink {
 public:
  // `next` receives the Compact RINEX text; it must outlive this sink.
  // `program` names the writer in the header (cut to 20 characters); the
  // header's date is the run date of clock, read at construction, so the
  // sink may then run on any thread.
  explicit CrxSink(Sink* next, const char* program = nullptr,
                   const RunClock& clock = DefaultRunClock());
  ~CrxSink() override;
  CrxSink(const CrxSink&) = delete;
  CrxSink& operator=(const CrxSink&) = delete;

  bool Write(const char* data, size_t length) override;
  // Fails when the text ends inside an epoch.
  bool Finish() override;
  void Abort() override;

  bool WantsValues() const override { return true; }
  // Epochs handed with values need no data records: their lines are
  // neither read nor passed on (the values are coded instead).
  bool ValuesReplaceRecords() const override { return true; }
  bool Values(const EpochValues& values) override;

  // Epochs coded from handed values so far (tests).
  uint64_t EpochsFromValues() const { return epochs_from_values_; }

  // Why the sink failed ("" while it has not).
  const char* Error() const { return error_.c_str(); }

  // Most satellites (distinct names) one file may carry.
  static constexpr size_t kMaxSatellites = 768;

 private:
  struct Arc {
    int64_t diff[4];  // the value and its differences at the last epoch
    int count = 0;    // values in the arc so far (0: no arc)
  };
  struct Satellite {
    uint32_t key = 0;         // the name's three bytes; 0: a free slot
    uint64_t last_epoch = 0;  // epoch number of its last record (0: none)
    std::vector<Arc> arcs;
    std::string flags;
  };
  enum class Phase { kHeader, kEpoch, kRecords, kSpecial, kSkip };
  // Values of an epoch waiting for its text.
  struct Pending {
    uint64_t text_bytes;
    int satellites;
    int types;
    size_t at;        // its first value in pending_values_ (with a base below)
    size_t named_at;  // its first name in pending_names_ (likewise)
    bool given;       // false: the text is read
    bool named;       // the records' names came with the values (RINEX 3)
  };

  bool OnLine(const char* line, size_t length);
  bool OnHeaderLine(const char* line, size_t length);
  bool OnEpochLine(const char* line, size_t length);
  bool EpochLinesRead();
  bool EncodeEpoch();
  bool EncodeClock(const char* text, int width, int decimals);
  bool EncodeSatellite(const char* name, const char* const* lines, const size_t* lengths,
                       int line_count, int types);
  bool CodeRecord(const char* name, size_t n, const int64_t* values, const uint8_t* present);
  void EncodeValue(Arc* arc, bool present, int64_t value);
  void PutDiffText(const std::string& before, const std::string& now, bool whole);
  void ReadTypesLine(const char* line, size_t length);
  int TypesFor(char system) const;
  Satellite* FindSatellite(const char* name);
  void ClearSatellites();

  // The output block: Room makes space for `n` more bytes (passing on what
  // is held when needed), Put* append, EndLine drops the line's trailing
  // blanks and ends it.
  bool Room(size_t n);
  void Put(char c) { out_[out_length_++] = c; }
  void Put(const char* text, size_t n);
  void PutPadded(const char* text, size_t width);
  void EndLine();
  bool Emit();
  bool Fail(const std::string& message);

  Sink* next_;
  std::string program_;
  char date_[128];  // the run date of the header, read when the sink is made
  std::string error_;
  bool failed_ = false;
  bool done_ = false;
  bool header_written_ = false;
  int major_ = 0;
  Phase phase_ = Phase::kHeader;

  std::string partial_;  // a line not yet ended
  std::unique_ptr<char[]> out_;  // Compact RINEX text not yet passed on
  size_t out_length_ = 0;

  // Observation types: RINEX 2 one count; RINEX 3 one per system letter.
  int types2_ = 0;
  int types3_[128] = {};

  // The epoch being collected.
  std::string epoch_text_;             // its lines, each ended by '\n'
  std::vector<size_t> epoch_starts_;   // where each line starts
  std::vector<size_t> epoch_lengths_;  // and its length
  size_t epoch_lines_needed_ = 0;
  int epoch_sats_ = 0;
  size_t special_left_ = 0;

  std::string last_epoch_line_;  // the previous epoch line (as coded)
  bool epoch_anew_ = true;
  std::string epoch_line_;       // scratch
  Arc clock_;
  uint64_t epoch_number_ = 0;
  // Open-addressed by name: kSatelliteSlots entries, at most kMaxSatellites
  // of them used.
  std::vector<Satellite> satellites_;
  size_t satellite_count_ = 0;
  std::string flags_;  // scratch
  std::vector<int64_t> record_values_;   // scratch: one record's values
  std::vector<uint8_t> record_present_;  // and which are not blank

  // Handed values not yet used, oldest first from pending_head_; the value
  // arrays are indexed from pending_base_ (dropped from the front as used).
  std::vector<Pending> pending_;
  size_t pending_head_ = 0;
  std::vector<int64_t> pending_values_;
  std::vector<char> pending_flags_;
  std::vector<uint8_t> pending_present_;  // beside pending_values_
  size_t pending_base_ = 0;
  std::vector<char> pending_names_;  // three characters a record
  size_t pending_names_base_ = 0;    // in records
  // The epoch being coded from values: its entry, and the bytes of its text
  // still to pass over.
  Pending current_{};
  bool from_values_ = false;
  uint64_t skip_left_ = 0;
  uint64_t epochs_from_values_ = 0;
};

}  // namespace rawconv

#endif  // RAWCONV_SINK_CRX_SINK_H_
