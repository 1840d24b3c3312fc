// Frames, modulations and the reader of Class 1 modem output.
#include "fax/t30.h"

#include <gtest/gtest.h>

namespace kv::t30 {
namespace {

std::vector<std::uint8_t> bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

TEST(T30Frames, StationIdIsRightAlignedAndReversed) {
  // As a fax machine sends "123-456-7890": 30 39 38 ... 31, then blanks.
  auto info = stationIdInfo("ABC");
  ASSERT_EQ(info.size(), 20u);
  EXPECT_EQ(std::string(info.begin(), info.begin() + 3), "CBA");
  EXPECT_EQ(std::string(info.begin() + 3, info.end()), std::string(17, ' '));
  // The far end reverses the 20 bytes: blanks, then the id.
  EXPECT_EQ(stationIdFromInfo(info.data(), info.size()), std::string(17, ' ') + "ABC");
  // Longer ids are cut, control bytes from the line never reach the id.
  EXPECT_EQ(stationIdInfo("123456789012345678901234").size(), 20u);
  std::uint8_t evil[20];
  std::fill(evil, evil + 20, '\n');
  evil[19] = '/';
  EXPECT_EQ(stationIdFromInfo(evil, 20), "/" + std::string(19, ' '));
}

TEST(T30Frames, FrameBytesCarryControlAndStuffDle) {
  auto f = frameBytes(fcf::DCN, true);
  EXPECT_EQ(f, (std::vector<std::uint8_t>{0xFF, 0x13, 0xFB, 0x10, 0x03}));
  auto g = frameBytes(fcf::TSI, false, {0x10, 0x41});
  EXPECT_EQ(g, (std::vector<std::uint8_t>{0xFF, 0x03, 0x43, 0x10, 0x10, 0x41, 0x10, 0x03}));
}

TEST(T30Frames, ClassifyIgnoresTheXBit) {
  EXPECT_EQ(classify(0x80), Kind::Dis);
  EXPECT_EQ(classify(0x81), Kind::Dis);
  EXPECT_EQ(classify(0x82), Kind::Dcs);
  EXPECT_EQ(classify(0x41), Kind::StationId);
  EXPECT_EQ(classify(0x85), Kind::Cfr);
  EXPECT_EQ(classify(0x4D), Kind::Rtn);
  EXPECT_EQ(classify(0xCC), Kind::Rtp);
  EXPECT_EQ(classify(0x4E), Kind::Mps);
  EXPECT_EQ(classify(0xFA), Kind::Dcn);
  EXPECT_EQ(classify(0x1B), Kind::Crp);
  EXPECT_EQ(classify(0x00), Kind::Unknown);
}

TEST(T30Frames, DcsRoundTripsEveryRateAndFormat) {
  for (int idx = 1; idx <= kModCount; ++idx)
    for (bool fine : {false, true})
      for (bool wide : {false, true}) {
        Params p{idx, fine, wide, 3};
        auto info = dcsInfo(p);
        auto d = readDcs(info.data(), info.size());
        EXPECT_EQ(d.bps, modulationBps(idx)) << idx;
        EXPECT_EQ(d.code, modulationCode(idx)) << idx;
        EXPECT_EQ(d.fine, fine);
        EXPECT_EQ(d.wide, wide);
      }
  // Fixed bytes as the engine writes them: 9600 normal, scan code 0.
  EXPECT_EQ(dcsInfo(Params{4, false, false, 0}),
            (std::vector<std::uint8_t>{0x00, 0x06, 0xF8, 0x00}));
}

TEST(T30Frames, DcsOfOtherMachinesIsRead) {
  // V.17 at 12000 as T.30 codes it (bits 12 and 14), and the older bit-13-only form.
  std::uint8_t v17_12k[] = {0x00, 0x2A, 0x88, 0x00};
  EXPECT_EQ(readDcs(v17_12k, 4).bps, 12000);
  std::uint8_t old12k[] = {0x00, 0x12, 0x88, 0x00};
  EXPECT_EQ(readDcs(old12k, 4).bps, 12000);
  std::uint8_t v17_9600[] = {0x00, 0x26, 0x88, 0x00};
  EXPECT_EQ(readDcs(v17_9600, 4).code, "97");
  std::uint8_t v27_2400[] = {0x00, 0x02};
  EXPECT_EQ(readDcs(v27_2400, 2).bps, 2400);
  // Too short to carry the rate byte: the lowest rate, never a read past the end.
  EXPECT_EQ(readDcs(v27_2400, 0).bps, 2400);
}

TEST(T30Frames, OwnDisIsUnderstoodAsItsRates) {
  auto at14 = disInfo(6);
  auto caps = readDis(at14.data(), at14.size());
  for (int i = 1; i <= 6; ++i) EXPECT_TRUE(caps.rates[i]) << i;
  EXPECT_TRUE(caps.fine);
  EXPECT_TRUE(caps.wide);
  auto at96 = disInfo(4);
  caps = readDis(at96.data(), at96.size());
  EXPECT_TRUE(caps.rates[4]);
  EXPECT_TRUE(caps.rates[3]);
  EXPECT_FALSE(caps.rates[5]);
  EXPECT_FALSE(caps.rates[6]);
  std::uint8_t v29only[] = {0x00, 0x04, 0x00, 0x00};
  caps = readDis(v29only, 4);
  EXPECT_TRUE(caps.rates[4]);
  EXPECT_FALSE(caps.rates[3]);
  EXPECT_FALSE(caps.fine);
  EXPECT_FALSE(caps.wide);
}

TEST(T30Modulations, ChoiceAndStepDown) {
  std::array<bool, 7> all{false, true, true, true, true, true, true};
  std::array<bool, 7> upTo96{false, true, true, true, true, false, false};
  EXPECT_EQ(chooseIndex(all, all, 14400), 6);
  EXPECT_EQ(chooseIndex(all, all, 9600), 4);
  EXPECT_EQ(chooseIndex(all, upTo96, 14400), 4);
  EXPECT_EQ(chooseIndex(all, all, 2000), 0);
  EXPECT_EQ(stepDown(all, all, 6), 5);  // 14400 -> 12000
  EXPECT_EQ(stepDown(all, upTo96, 4), 3);
  EXPECT_EQ(stepDown(all, all, 1), 0);  // nothing below 2400
}

TEST(T30Modulations, TrainingCheckWantsALongCleanStretch) {
  auto judge = [](const std::vector<std::uint8_t> &bytes) {
    TrainingCheck c;
    for (auto b : bytes) c.add(b);
    return c.passed();
  };
  std::vector<std::uint8_t> clean(1728, 0);
  EXPECT_TRUE(judge(clean));
  EXPECT_FALSE(judge({}));
  auto noisyStart = clean;  // garbage while the carrier settles, then zeros
  for (int i = 0; i < 150; ++i) noisyStart[std::size_t(i)] = 0x5A;
  EXPECT_TRUE(judge(noisyStart));
  auto tooNoisy = clean;  // 12 % spoilt at the start: fails the count
  for (int i = 0; i < 208; ++i) tooNoisy[std::size_t(i)] = 0xFF;
  EXPECT_FALSE(judge(tooNoisy));
  auto scattered = clean;  // one byte in a hundred, spread out: passes the count, not the run
  for (std::size_t i = 50; i < scattered.size(); i += 100) scattered[i] = 0x08;
  EXPECT_FALSE(judge(scattered));
  auto oneHit = clean;  // a single spoilt byte anywhere leaves half of the check clean
  oneHit[900] = 0x01;
  EXPECT_TRUE(judge(oneHit));
  TrainingCheck reused;
  for (auto b : scattered) reused.add(b);
  reused.reset();
  for (auto b : clean) reused.add(b);
  EXPECT_TRUE(reused.passed());
}

TEST(T30Modulations, ModemListsAndClassLists) {
  auto r = parseModulationList("24,48,72,96");
  EXPECT_TRUE(r[4]);
  EXPECT_FALSE(r[5]);
  EXPECT_FALSE(r[6]);
  r = parseModulationList("3,24,48,72,73,74,96,97,98,121,122,145,146");
  EXPECT_TRUE(r[5] && r[6]);
  r = parseModulationList("OK");
  EXPECT_TRUE(r[1] && r[2]);
  EXPECT_FALSE(r[3]);

  EXPECT_EQ(parseClassList("0,1,2"), 4 | 8);
  EXPECT_EQ(parseClassList("0,1,2,2.0"), 4 | 8 | 16);
  EXPECT_EQ(parseClassList("0,1,2.0"), 4 | 16);
  EXPECT_EQ(parseClassList("+FCLASS: (0,1,8)"), 4);
  EXPECT_EQ(parseClassList("0"), 0);
}

TEST(T30Modulations, ScanTimesAndMinimumBytes) {
  EXPECT_EQ(minBytesPerLine(0, false, 14400), 0);
  EXPECT_EQ(minBytesPerLine(4, false, 9600), 24);  // 20 ms at 9600
  EXPECT_EQ(minBytesPerLine(4, true, 9600), 12);   // 10 ms fine
  EXPECT_EQ(scanCodeFromFormat(0x70), 0);
  EXPECT_EQ(scanCodeFromFormat(0x00), 5);
  EXPECT_EQ(hangupNumber("+FHNG:0"), 0);
  EXPECT_EQ(hangupNumber("+FHS: 54"), 54);
  EXPECT_EQ(hangupNumber("+FHNG:1000"), 100);
  EXPECT_EQ(hangupNumber("FHNG"), 0);
}

std::vector<ResponseReader::Item> feedAll(ResponseReader &r, std::string_view s) {
  std::vector<ResponseReader::Item> out;
  for (unsigned char c : s) {
    auto it = r.feed(c);
    if (it.type != ResponseReader::Item::None) out.push_back(std::move(it));
  }
  return out;
}

TEST(T30Reader, LinesAndFramesInterleaved) {
  ResponseReader r;
  std::string s = "\r\nCONNECT\r\n";
  s += std::string("\xFF\x13\x80\x00\x4E\xF9\x10\x10\x12\x34\x10\x03", 12);
  s += "\r\nOK\r\n";
  auto items = feedAll(r, s);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].line, "CONNECT");
  ASSERT_EQ(items[1].type, ResponseReader::Item::Frame);
  EXPECT_EQ(items[1].frame,
            (std::vector<std::uint8_t>{0xFF, 0x13, 0x80, 0x00, 0x4E, 0xF9, 0x10, 0x12, 0x34}));
  auto f = decodeFrame(items[1].frame);
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->final);
  EXPECT_EQ(f->kind, Kind::Dis);
  EXPECT_EQ(f->infoLen, 6u);
  EXPECT_EQ(items[2].line, "OK");
}

TEST(T30Reader, GarbageAndOverlongInputStayBounded) {
  ResponseReader r;
  std::string huge(5000, 'x');
  auto items = feedAll(r, huge + "\r\n");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].line.size(), ResponseReader::kMaxLine);
  // A frame that never ends keeps only its first bytes and still ends at DLE ETX.
  std::string frame = "\xFF" + std::string(3000, 'A') + "\x10\x03";
  items = feedAll(r, frame);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].frame.size(), ResponseReader::kMaxFrame);
  // Blank lines and control characters vanish.
  items = feedAll(r, "\r\n\r\n \x01\t\r\n");
  EXPECT_TRUE(items.empty());
  EXPECT_FALSE(decodeFrame(bytes("\xFF\x13")));
  EXPECT_FALSE(decodeFrame(bytes("abc")));
}

}  // namespace
}  // namespace kv::t30
