#include <gtest/gtest.h>

#include "support/fortran_input.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::TempDir;

class FormattedInput : public ::testing::Test {
 protected:
  RecordReader& records(std::string_view content) {
    testing::write_file(dir_.path("in.txt"), content);
    reader_ = RecordReader::open(dir_.path("in.txt"));
    return *reader_;
  }
  TempDir dir_;
  std::unique_ptr<RecordReader> reader_;
};

TEST(FormatText, ExpandsRepeatsAndIsCaseInsensitive) {
  const Format f("(3i8, F8.3)");
  ASSERT_EQ(f.items().size(), 4u);
  EXPECT_EQ(f.items()[0].kind, 'I');
  EXPECT_EQ(f.items()[0].width, 8);
  EXPECT_EQ(f.items()[3].kind, 'F');
  EXPECT_EQ(f.items()[3].decimals, 3);
  EXPECT_EQ(Format("(16a5)").items().size(), 16u);
  EXPECT_THROW(Format("10f8.3"), std::invalid_argument);
  EXPECT_THROW(Format("(10x8)"), std::invalid_argument);
  EXPECT_THROW(Format("()"), std::invalid_argument);
}

TEST_F(FormattedInput, RecordsDropLineBreaksAndCarriageReturns) {
  RecordReader& in = records("one\r\ntwo\n\nlast");
  std::string_view r;
  ASSERT_EQ(in.next(r), kIoOk);
  EXPECT_EQ(r, "one");
  ASSERT_EQ(in.next(r), kIoOk);
  EXPECT_EQ(r, "two");
  ASSERT_EQ(in.next(r), kIoOk);
  EXPECT_EQ(r, "");
  ASSERT_EQ(in.next(r), kIoOk);
  EXPECT_EQ(r, "last");
  EXPECT_EQ(in.next(r), kIoEnd);
  EXPECT_EQ(in.next(r), kIoEnd);
}

TEST_F(FormattedInput, RecordsLongerThanOneBlock) {
  const std::string long_line(3'000'000, 'x');
  RecordReader& in = records("a\n" + long_line + "\nb\n");
  std::string_view r;
  ASSERT_EQ(in.next(r), kIoOk);
  ASSERT_EQ(in.next(r), kIoOk);
  EXPECT_EQ(r.size(), long_line.size());
  ASSERT_EQ(in.next(r), kIoOk);
  EXPECT_EQ(r, "b");
  EXPECT_EQ(in.next(r), kIoEnd);
}

TEST_F(FormattedInput, EmptyFileIsEndOfFile) {
  std::string_view r;
  EXPECT_EQ(records("").next(r), kIoEnd);
}

TEST_F(FormattedInput, FormatRestartsOnANewRecordAndShortRecordsArePadded) {
  // 12 values with (10f8.3): ten on the first record, two on the second; a short record's
  // missing fields read as 0.
  RecordReader& in = records(
      "   1.000   2.000   3.000   4.000   5.000   6.000   7.000   8.000   9.000  10.000\n"
      "  11.000  12.000\n"
      "   1.500\n");
  FormattedReader reader(in);
  const Format f("(10f8.3)");
  std::vector<float> v(12);
  ASSERT_EQ(reader.reals(f, v), kIoOk);
  for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(v[i], i + 1.0f);
  std::vector<float> box(6, -1.0f);
  ASSERT_EQ(reader.reals(Format("(6f8.3)"), box), kIoOk);
  EXPECT_EQ(box, (std::vector<float>{1.5f, 0, 0, 0, 0, 0}));
  EXPECT_EQ(reader.reals(f, v), kIoEnd);
}

TEST_F(FormattedInput, NewStatementSkipsTheRestOfTheRecord) {
  RecordReader& in = records("   1.000   2.000\n   3.000\n");
  FormattedReader reader(in);
  float a = 0, b = 0;
  reader.start(Format("(10f8.3)"));
  ASSERT_EQ(reader.real(a), kIoOk);
  reader.start(Format("(10f8.3)"));
  ASSERT_EQ(reader.real(b), kIoOk);
  EXPECT_EQ(a, 1.0f);
  EXPECT_EQ(b, 3.0f);
}

TEST_F(FormattedInput, MixedHeaderAndTextFields) {
  RecordReader& in =
      records("KVT0 anything\nA title\n     200     250       3  95.500\nabcdeFGHIJk\n");
  FormattedReader reader(in);
  std::string magic, title;
  ASSERT_EQ(reader.line(4, magic), kIoOk);
  EXPECT_EQ(magic, "KVT0");
  ASSERT_EQ(reader.line(80, title), kIoOk);
  EXPECT_EQ(title, "A title");
  const Format header("(3i8,f8.3)");
  reader.start(header);
  std::int32_t n = 0, f = 0, v = 0;
  float q = 0;
  ASSERT_EQ(reader.integer(n), kIoOk);
  ASSERT_EQ(reader.integer(f), kIoOk);
  ASSERT_EQ(reader.integer(v), kIoOk);
  ASSERT_EQ(reader.real(q), kIoOk);
  EXPECT_EQ(n, 200);
  EXPECT_EQ(f, 250);
  EXPECT_EQ(v, 3);
  EXPECT_FLOAT_EQ(q, 95.5f);
  const Format codes("(3a5)");
  reader.start(codes);
  std::string c1, c2, c3;
  ASSERT_EQ(reader.text(c1), kIoOk);
  ASSERT_EQ(reader.text(c2), kIoOk);
  ASSERT_EQ(reader.text(c3), kIoOk);
  EXPECT_EQ(c1, "abcde");
  EXPECT_EQ(c2, "FGHIJ");
  EXPECT_EQ(c3, "k    ");
}

TEST_F(FormattedInput, BadDataIsPositiveAndEndOfFileNegative) {
  RecordReader& in = records("   1.000  abc   \n");
  FormattedReader reader(in);
  std::vector<float> v(2);
  const int bad = reader.reals(Format("(10f8.3)"), v);
  EXPECT_GT(bad, 0);
  EXPECT_LT(reader.reals(Format("(10f8.3)"), v), 0);
}

TEST_F(FormattedInput, WrongKindOfFieldIsBadData) {
  RecordReader& in = records("     200\n");
  FormattedReader reader(in);
  reader.start(Format("(i8)"));
  float x = 0;
  EXPECT_EQ(reader.real(x), kIoBadData);
}

}  // namespace
}  // namespace kvtraj
