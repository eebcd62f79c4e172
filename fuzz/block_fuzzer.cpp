// The block record reader on any text: every block of the file, every entry
// looked up by its own key with value formats of every directive, the text
// helpers on every value, and the value scanner on the raw input.
#include <cstring>
#include <memory>

#include "api/context.h"
#include "ephem/block_reader.h"
#include "fuzz_support.h"

using namespace rawconv;

namespace {

// Outputs for any format of the table below.
struct Outputs {
  char Text[4][kScanTextSize];
  int32_t Int[4];
  float Float[4];
  double Real[4];
  char Char;
};

// Formats and the lookups that use them; each lookup passes outputs of the
// types its format asks for.
constexpr int kFormats = 12;

int Lookup(int which, const char* key, BlockRecord* block, Outputs* o) {
  switch (which) {
    case 0: return GetBlockValues(key, block, "%s", o->Text[0]);
    case 1: return GetBlockValues(key, block, "%s%s%s", o->Text[0], o->Text[1], o->Text[2]);
    case 2: return GetBlockValues(key, block, "%lf%d", &o->Real[0], &o->Int[0]);
    case 3: return GetBlockValues(key, block, "%lf%lf%lf%s", &o->Real[0], &o->Real[1], &o->Real[2], o->Text[0]);
    case 4: return GetBlockValues(key, block, "%d%d%d", &o->Int[0], &o->Int[1], &o->Int[2]);
    case 5: return GetBlockValues(key, block, "%e%f", &o->Float[0], &o->Float[1]);
    case 6: return GetBlockValues(key, block, "%c%S", &o->Char, o->Text[0]);
    case 7: return GetBlockValues(key, block, "%l%ld%l", &o->Int[0], &o->Int[1], &o->Int[2]);
    case 8: return GetBlockValues(key, block, "%le %lf,%d", &o->Real[0], &o->Real[1], &o->Int[0]);
    case 9: return GetBlockValues(key, block, "%lx");
    case 10: return GetBlockValues(key, block, "%q");
    default: return GetBlockValues(key, block, "%d%s%lf%S", &o->Int[0], o->Text[0], &o->Real[0], o->Text[1]);
  }
}

int Scan(int which, char* text, Outputs* o) {
  switch (which % 4) {
    case 0: return ScanValues(text, "%s%d%lf%S", o->Text[0], &o->Int[0], &o->Real[0], o->Text[1]);
    case 1: return ScanValues(text, "%c%e%l", &o->Char, &o->Float[0], &o->Int[0]);
    case 2: return ScanValues(text, "%S", o->Text[0]);
    default: return ScanValues(text, "%lf%lf%lf%lf", &o->Real[0], &o->Real[1], &o->Real[2], &o->Real[3]);
  }
}

void CheckBlock(const BlockRecord& block) {
  FUZZ_CHECK(fuzz::Terminated(block.Name, sizeof block.Name));
  FUZZ_CHECK(block.EntryCount >= 0 && block.EntryCount <= kBlockMaxEntries);
  for (int i = 0; i < block.EntryCount; ++i) {
    const BlockEntry& entry = block.Entries[i];
    FUZZ_CHECK(fuzz::Terminated(entry.Key, sizeof entry.Key));
    FUZZ_CHECK(entry.ValueCount >= 0 && entry.ValueCount <= kBlockMaxValues);
    for (int v = 0; v < entry.ValueCount; ++v) {
      FUZZ_CHECK(fuzz::Terminated(entry.Values[v], sizeof entry.Values[v]));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Context context{};
  ContextScope scope(context);
  const std::string path = fuzz::WriteScratch("input.blk", data, size);
  std::unique_ptr<BlockRecord> block(new BlockRecord);
  std::unique_ptr<Outputs> out(new Outputs);

  if (std::FILE* stream = std::fopen(path.c_str(), "r")) {
    int blocks = 0;
    int result;
    while ((result = ReadBlock(stream, block.get())) != -1) {
      if (result != 0) continue;
      CheckBlock(*block);
      ++blocks;
      for (int i = 0; i < block->EntryCount; ++i) {
        char key[kBlockKeySize];
        std::memcpy(key, block->Entries[i].Key, sizeof key);
        const int n = Lookup((blocks + i) % kFormats, key, block.get(), out.get());
        FUZZ_CHECK(n >= 0 && n <= kBlockMaxValues + 1);
        for (int v = 0; v < block->Entries[i].ValueCount; ++v) {
          char value[kBlockValueSize];
          std::memcpy(value, block->Entries[i].Values[v], sizeof value);
          char field[64];
          CopyFieldText(field, value, 1 + (v * 7) % sizeof field);
          ReplaceBackquotes(value, '_');
        }
      }
      // A lookup of a key that is absent, and a second lookup of a used one.
      GetBlockValues("NoSuchKey:", block.get(), "%s", out->Text[0]);
      if (block->EntryCount > 0) {
        GetBlockValues(block->Entries[0].Key, block.get(), "%d", &out->Int[0]);
      }
    }
    std::fclose(stream);
  }

  // The scanner on the raw bytes as one text.
  const size_t n = size < 4096 ? size : 4096;
  std::unique_ptr<char[]> text(new char[n + 1]);
  for (int which = 0; which < 4; ++which) {
    std::memcpy(text.get(), data, n);
    text[n] = '\0';
    Scan(which, text.get(), out.get());
  }
  return 0;
}
