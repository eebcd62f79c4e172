#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "memory_sink.h"
#include "sink/chain.h"
#include "sink/gzip_sink.h"
#include "sink/thread_sink.h"
#include "support/crx_decoder.h"

namespace {

using rawconv::Compression;
using rawconv::GzipSink;
using rawconv::OutputChain;
using rawconv_test::MemorySink;

// Inflates a gzip stream of one or more members with zlib.
bool Gunzip(const std::string& gz, std::string* out) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  z.avail_in = static_cast<uInt>(gz.size());
  char buffer[65536];
  int rc = Z_OK;
  while (true) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out->append(buffer, sizeof buffer - z.avail_out);
    if (rc == Z_STREAM_END) {
      if (z.avail_in == 0) break;
      inflateReset(&z);  // the next member
      continue;
    }
    if (rc != Z_OK) break;
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(GzipSink, InflatesToTheSameBytesInAnyWritePattern) {
  if (!rawconv::GzipAvailable()) GTEST_SKIP() << "no gzip in this build";
  // More than two blocks, written in uneven pieces.
  const std::string text = ReadFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/bell0300.02o");
  ASSERT_GT(text.size(), 2 * GzipSink::kBlockSize);
  for (size_t piece : {size_t{1} << 20, size_t{65536}, size_t{4093}}) {
    MemorySink out;
    GzipSink gz(&out);
    for (size_t at = 0; at < text.size(); at += piece) {
      ASSERT_TRUE(gz.Write(text.data() + at, std::min(piece, text.size() - at)));
    }
    ASSERT_TRUE(gz.Finish()) << gz.Error();
    EXPECT_TRUE(out.finished);
    EXPECT_EQ(gz.BytesOut(), out.text.size());
    EXPECT_LT(out.text.size(), text.size() / 2);
    std::string back;
    ASSERT_TRUE(Gunzip(out.text, &back));
    EXPECT_TRUE(back == text);
  }
}

TEST(GzipSink, EmptyInputIsAValidEmptyStream) {
  if (!rawconv::GzipAvailable()) GTEST_SKIP() << "no gzip in this build";
  MemorySink out;
  GzipSink gz(&out);
  ASSERT_TRUE(gz.Finish());
  std::string back = "x";
  back.clear();
  ASSERT_TRUE(Gunzip(out.text, &back));
  EXPECT_TRUE(back.empty());
}

TEST(GzipSink, AFailedDownstreamWriteFailsFinishAndAborts) {
  if (!rawconv::GzipAvailable()) GTEST_SKIP() << "no gzip in this build";
  MemorySink out;
  out.fail_writes_ = true;
  GzipSink gz(&out);
  std::string text(1000, 'a');
  EXPECT_TRUE(gz.Write(text.data(), text.size()));  // still held
  EXPECT_FALSE(gz.Finish());
  EXPECT_TRUE(out.aborted);
  EXPECT_NE(std::string(gz.Error()), "");
  EXPECT_FALSE(gz.Write("b", 1));
}

// Text of `blocks` compressor blocks and a bit, different in every line.
std::string ManyBlocks(size_t blocks) {
  std::string text;
  char line[96];
  for (unsigned i = 0; text.size() < blocks * GzipSink::kBlockSize + 1234; ++i) {
    std::snprintf(line, sizeof line, "%14.3f%14.3f  line %u\n", i * 0.731, 1e6 - i * 1.5, i);
    text += line;
  }
  return text;
}

TEST(GzipSink, ManyBlocksRestoreAndAreCounted) {
  if (!rawconv::GzipAvailable()) GTEST_SKIP() << "no gzip in this build";
  const std::string text = ManyBlocks(9);
  for (int level : {1, 3}) {
    MemorySink out;
    GzipSink gz(&out, level);
    for (size_t at = 0; at < text.size(); at += 65536) {
      ASSERT_TRUE(gz.Write(text.data() + at, std::min<size_t>(65536, text.size() - at)));
    }
    ASSERT_TRUE(gz.Finish()) << gz.Error();
    EXPECT_EQ(out.writes, 10);  // one member per block, in order
    EXPECT_EQ(gz.BytesIn(), text.size());
    EXPECT_EQ(gz.BytesOut(), out.text.size());
    std::string back;
    ASSERT_TRUE(Gunzip(out.text, &back));
    EXPECT_TRUE(back == text);
  }
}

TEST(GzipSink, AFailedWriteOfAMemberFailsTheWriterAndAbortsTheChain) {
  if (!rawconv::GzipAvailable()) GTEST_SKIP() << "no gzip in this build";
  const std::string text = ManyBlocks(8);
  MemorySink out;
  out.fail_after_writes = 2;
  GzipSink gz(&out);
  bool refused = false;
  for (size_t at = 0; at < text.size() && !refused; at += 65536) {
    refused = !gz.Write(text.data() + at, std::min<size_t>(65536, text.size() - at));
  }
  EXPECT_TRUE(refused);  // noticed at once, not only at Finish
  EXPECT_FALSE(gz.Write("x", 1));
  EXPECT_FALSE(gz.Finish());
  EXPECT_TRUE(out.aborted);
  EXPECT_FALSE(out.finished);
  EXPECT_NE(std::string(gz.Error()).find("could not be written"), std::string::npos);

  // A failure in the last block, met only while finishing.
  MemorySink last;
  last.fail_after_writes = 2;
  GzipSink gz2(&last);
  const size_t three = 3 * GzipSink::kBlockSize - 10;
  ASSERT_TRUE(gz2.Write(text.data(), three));
  EXPECT_FALSE(gz2.Finish());
  EXPECT_TRUE(last.aborted);
}

TEST(GzipSink, AbortOrDestructionAbortsTheChain) {
  if (!rawconv::GzipAvailable()) GTEST_SKIP() << "no gzip in this build";
  const std::string text = ManyBlocks(4);
  MemorySink aborted_out;
  {
    GzipSink gz(&aborted_out);
    ASSERT_TRUE(gz.Write(text.data(), text.size()));
    gz.Abort();
    EXPECT_TRUE(aborted_out.aborted);
    EXPECT_FALSE(gz.Write("x", 1));
    EXPECT_FALSE(gz.Finish());
  }
  MemorySink dropped_out;
  {
    GzipSink gz(&dropped_out);
    ASSERT_TRUE(gz.Write(text.data(), text.size()));
  }
  EXPECT_TRUE(dropped_out.aborted);
  EXPECT_FALSE(dropped_out.finished);
}

// Members compressed side by side on several threads make the stream one
// GzipSink makes on the caller's thread, byte for byte; so does an empty
// output (one empty member).
TEST(GzipSink, CodersOnThreadsMakeTheSameStream) {
  if (!rawconv::GzipAvailable()) GTEST_SKIP() << "no gzip in this build";
  std::string text = ReadFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/bell0300.02o");
  while (text.size() < 3 * rawconv::ThreadSink::kRing * GzipSink::kBlockSize / 2) text += text;
  text.resize(text.size() - 4321);  // a short last block
  for (const std::string& input : {text, std::string()}) {
    MemorySink one;
    GzipSink gz(&one, 3);
    ASSERT_TRUE(gz.Write(input.data(), input.size()));
    ASSERT_TRUE(gz.Finish());

    MemorySink many;
    std::vector<std::unique_ptr<rawconv::BlockCoder>> coders;
    for (int i = 0; i < 3; ++i) coders.emplace_back(new rawconv::GzipCoder(3));
    rawconv::ThreadSink stage(&many, GzipSink::kBlockSize, std::move(coders));
    for (size_t at = 0; at < input.size(); at += 100000)
      ASSERT_TRUE(stage.Write(input.data() + at, std::min<size_t>(100000, input.size() - at)));
    ASSERT_TRUE(stage.Finish());
    EXPECT_EQ(!input.empty(), stage.Threaded());
    EXPECT_TRUE(many.finished);
    EXPECT_TRUE(many.text == one.text) << input.size() << " bytes in";
    std::string back;
    ASSERT_TRUE(Gunzip(many.text, &back));
    EXPECT_TRUE(back == input);
  }
}

TEST(OutputChain, BuildsTheSinksEachKindNeeds) {
  rawconv::FileSink file;
  OutputChain chain;
  // Observation files get a thread stage; with gzip it compresses.
  EXPECT_NE(dynamic_cast<rawconv::ThreadSink*>(chain.Build(&file, Compression::kNone, true, 2)),
            nullptr);
  EXPECT_EQ(chain.Build(&file, Compression::kNone, false, 2), &file);
  EXPECT_EQ(chain.Build(&file, Compression::kCrx, false, 2), &file);  // navigation: plain
  EXPECT_EQ(chain.Build(&file, Compression::kCrx, true, 1), nullptr);
  EXPECT_NE(std::string(chain.Error()).find("Compact RINEX"), std::string::npos);
  if (rawconv::GzipAvailable()) {
    rawconv::Sink* head = chain.Build(&file, Compression::kCrxGzip, false, 2);
    EXPECT_NE(dynamic_cast<rawconv::ThreadSink*>(head), nullptr);  // then gzip
    // Compact RINEX is encoded on a stage of its own, or on the writer's
    // thread when there are no threads.
    head = chain.Build(&file, Compression::kCrxGzip, true, 3);
    EXPECT_NE(dynamic_cast<rawconv::ThreadSink*>(head), nullptr);
    head = chain.Build(&file, Compression::kCrxGzip, true, 3, /*threads=*/false);
    EXPECT_NE(dynamic_cast<rawconv::CrxSink*>(head), nullptr);
    head = chain.Build(&file, Compression::kGzip, true, 3);
    EXPECT_NE(dynamic_cast<rawconv::ThreadSink*>(head), nullptr);
  } else {
    EXPECT_EQ(chain.Build(&file, Compression::kGzip, true, 2), nullptr);
    EXPECT_NE(std::string(chain.Error()).find("gzip"), std::string::npos);
  }
  EXPECT_STREQ(rawconv::CompressionSuffix(Compression::kCrxGzip, true), ".gz");
  EXPECT_STREQ(rawconv::CompressionSuffix(Compression::kCrx, true), "");
}

TEST(OutputChain, CompactGzipFileRestoresTheObservationFile) {
  if (!rawconv::GzipAvailable()) GTEST_SKIP() << "no gzip in this build";
  const std::string text = ReadFile(std::string(RAWCONV_SHARED_DATA_DIR) + "/07590920.05o");
  const std::string target = std::string(RAWCONV_BINARY_DIR) + "/chain_test.05d.gz";
  std::remove(target.c_str());
  rawconv::FileSink file;
  ASSERT_TRUE(file.Open(target.c_str(), rawconv::ExistingFile::kReplace));
  OutputChain chain;
  rawconv::Sink* head = chain.Build(&file, Compression::kCrxGzip, true, 2);
  ASSERT_NE(head, nullptr);
  ASSERT_TRUE(head->Write(text.data(), text.size()));
  ASSERT_TRUE(head->Finish());
  std::string crx;
  ASSERT_TRUE(Gunzip(ReadFile(target), &crx));
  std::string back;
  rawconv_test::CrxDecoder decoder;
  ASSERT_TRUE(decoder.Decode(crx, &back)) << decoder.Error();
  EXPECT_TRUE(back == rawconv_test::TrimLines(text));
  std::remove(target.c_str());
}

TEST(OutputChain, AnAbortedChainLeavesNoFile) {
  const std::string target = std::string(RAWCONV_BINARY_DIR) + "/chain_abort.05d";
  std::remove(target.c_str());
  rawconv::FileSink file;
  ASSERT_TRUE(file.Open(target.c_str(), rawconv::ExistingFile::kReplace));
  {
    OutputChain chain;
    rawconv::Sink* head = chain.Build(&file, Compression::kCrx, true, 2);
    ASSERT_NE(head, nullptr);
    const std::string partial = "     2.10           OBSERVATION DATA\n";
    head->Write(partial.data(), partial.size());
    EXPECT_FALSE(head->Finish());  // ends inside the header
  }
  EXPECT_FALSE(rawconv::PathExists(target.c_str()));
}

}  // namespace
