// The analysis commands as a user runs them: tables in their three styles, and the refusals
// (one line on standard error, status 1, no output file).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using ::testing::HasSubstr;
using testing::run_program;
using testing::RunResult;
using ::testing::StartsWith;
using testing::TempDir;

RunResult kvt(const std::vector<std::string>& args) {
  return run_program(KVT_PROGRAM, args);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

void expect_refused(const RunResult& r, const std::string& message) {
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_THAT(r.err, StartsWith("kvt: "));
  EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
  EXPECT_THAT(r.err, HasSubstr(message));
}

class AnalysesCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const RunResult r = kvt({"compress", "-i", std::string(KVTRAJ_SAMPLE) + "(1:40)", "-o",
                             dir_->path("s.kvt"), "--vectors", "3", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string kvtfile() { return dir_->path("s.kvt"); }
  static inline TempDir* dir_ = nullptr;
};

TEST_F(AnalysesCli, TablesHoldTheSameValuesInEveryStyle) {
  const std::vector<std::string> query = {"query", "-i", kvtfile(), "--proj", "2"};
  const RunResult plain = kvt(query);
  std::vector<std::string> args = query;
  args.push_back("--csv");
  const RunResult csv = kvt(args);
  args.back() = "--xvg";
  const RunResult xvg = kvt(args);
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(csv.status, 0);
  ASSERT_EQ(xvg.status, 0);
  const auto p = lines(plain.out), c = lines(csv.out), x = lines(xvg.out);
  ASSERT_EQ(p.size(), 40u);
  ASSERT_EQ(c.size(), 41u);
  EXPECT_EQ(c[0], "snapshot,projection (Å)");
  std::vector<std::string> data;
  for (const std::string& line : x) {
    if (line[0] != '#' && line[0] != '@') data.push_back(line);
  }
  ASSERT_EQ(data.size(), 40u);
  EXPECT_THAT(xvg.out, HasSubstr("@ s0 legend \"projection (Å)\"\n"));
  for (std::size_t i = 0; i < 40; ++i) {
    EXPECT_EQ(c[i + 1], std::to_string(i + 1) + "," + p[i]);
    EXPECT_EQ(data[i], std::to_string(i + 1) + " " + p[i]);
  }
  // project writes the same table to a file by its extension; stored and projected agree.
  const RunResult written =
      kvt({"project", "-i", kvtfile(), "-t", std::string(KVTRAJ_SAMPLE) + "(1:40)", "--vectors",
           "2:3", "-o", dir_->path("p.csv"), "--quiet"});
  ASSERT_EQ(written.status, 0) << written.err;
  const auto rows = lines(testing::read_file(dir_->path("p.csv")));
  ASSERT_EQ(rows.size(), 41u);
  EXPECT_EQ(rows[0], "snapshot,vector 2,vector 3");
  EXPECT_NEAR(std::stod(rows[7].substr(rows[7].find(',') + 1)), std::stod(p[6]), 1e-3);
}

// The value after `key` on the line of the report that starts with it.
double reported(const std::string& report, const std::string& key) {
  for (const std::string& line : lines(report)) {
    if (line.rfind(key + " ", 0) == 0) return std::stod(line.substr(key.size() + 1));
  }
  ADD_FAILURE() << "no line " << key << " in\n" << report;
  return 0.0;
}

std::vector<double> numbers(const std::string& line, char separator) {
  std::vector<double> out;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, separator);) out.push_back(std::stod(field));
  return out;
}

TEST_F(AnalysesCli, CompareTablesAndGromacsEigenvectors) {
  const std::string half = dir_->path("half.kvt");
  ASSERT_EQ(kvt({"compress", "-i", std::string(KVTRAJ_SAMPLE) + "(21:40)", "-o", half, "--vectors",
                 "3", "--quiet"})
                .status,
            0);
  // The csv rows hold the plain report's matrix and cumulative overlaps; the notes its values.
  const RunResult plain = kvt({"compare", kvtfile(), half});
  const RunResult csv = kvt({"compare", kvtfile(), half, "--csv"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(csv.status, 0) << csv.err;
  const auto p = lines(plain.out), c = lines(csv.out);
  ASSERT_EQ(p.size(), 7u);
  ASSERT_EQ(c.size(), 6u);
  EXPECT_EQ(c[2], "vector of A,B 1,B 2,B 3,cumulative");
  EXPECT_NEAR(reported(csv.out, "# rmsip"), reported(plain.out, "rmsip"), 1e-9);
  EXPECT_NEAR(reported(csv.out, "# covariance overlap"), reported(plain.out, "covariance overlap"),
              1e-9);
  const std::vector<double> cumulative = numbers(p[5].substr(p[5].find(' ') + 1), ' ');
  for (std::size_t i = 0; i < 3; ++i) {
    const std::vector<double> row = numbers(c[3 + i], ','), matrix = numbers(p[2 + i], ' ');
    ASSERT_EQ(row.size(), 5u);
    EXPECT_EQ(row[0], i + 1.0);
    for (std::size_t j = 0; j < 3; ++j) EXPECT_NEAR(row[1 + j], matrix[j], 5e-7);
    EXPECT_NEAR(row[4], cumulative[i], 5e-7);
  }
  // Our export read back on either side is the same PCA.
  ASSERT_EQ(kvt({"export", "-i", half, "--gromacs", dir_->path("half")}).status, 0);
  const RunResult same = kvt({"compare", dir_->path("half.trr"), half});
  ASSERT_EQ(same.status, 0) << same.err;
  EXPECT_NEAR(reported(same.out, "rmsip"), 1.0, 1e-6);
  EXPECT_NEAR(reported(same.out, "covariance overlap"), 1.0, 1e-4);
  // GROMACS's PCA of the first 100 frames without a fit is ours of the same frames, eigenvalues
  // included (the covariance overlap); with gmx's fit onto the structure file it is close.
  const std::string own = dir_->path("own100.kvt");
  ASSERT_EQ(kvt({"compress", "-i", std::string(KVTRAJ_SAMPLE) + "(1:100)", "-o", own, "--no-fit",
                 "--vectors", "8", "--quiet"})
                .status,
            0);
  const RunResult gmx = kvt({"compare", own, testing::data_path("covar/nofit/eigenvec.trr")});
  ASSERT_EQ(gmx.status, 0) << gmx.err;
  EXPECT_GT(reported(gmx.out, "rmsip"), 0.9999);
  EXPECT_GT(reported(gmx.out, "covariance overlap"), 0.999);
}

TEST_F(AnalysesCli, RefusalsLeaveNoFile) {
  const std::string traj = std::string(KVTRAJ_SAMPLE) + "(1:40)";
  expect_refused(kvt({"query", "-i", kvtfile(), "--evals", "--xvg", "--csv"}),
                 "give only one of --xvg and --csv");
  expect_refused(kvt({"query", "-i", kvtfile(), "--cosine", "4"}), "--cosine 4 is outside 1..3");
  expect_refused(kvt({"project", "-i", kvtfile(), "-t", traj, "-o", dir_->path("p.txt")}),
                 "tables are written as .xvg or .csv");
  expect_refused(
      kvt({"project", "-i", kvtfile(), "-t", traj, "--top", testing::data_path("peptide.pdb"),
           "--select", "name CA", "-o", dir_->path("ca.csv")}),
      "but " + kvtfile() + " holds 200 atoms");
  expect_refused(kvt({"modes", "-i", kvtfile(), "-o", dir_->path("m.nmd"), "--frames", "5"}),
                 "--frames and --scale go with a trajectory");
  expect_refused(kvt({"export", "-i", kvtfile(), "--gromacs", dir_->path("none/pca")}),
                 "none/pca.trr");
  const std::string trr = testing::data_path("covar/fit/eigenvec.trr");
  expect_refused(kvt({"compare", kvtfile(), trr, "--eigenval-a", "x.xvg"}),
                 "--eigenval-a goes with an eigenvector file (.trr)");
  expect_refused(kvt({"compare", kvtfile(), trr, "--eigenval-b", dir_->path("none.xvg")}),
                 "none.xvg: cannot be opened");
  testing::write_file(dir_->path("alone.trr"), testing::read_file(trr));
  expect_refused(kvt({"compare", dir_->path("alone.trr"), kvtfile()}), "no eigenvalues beside it");
  expect_refused(kvt({"compare", kvtfile(), testing::data_path("covar/mwa/eigenvec.trr")}),
                 "a mass-weighted analysis");
  for (const char* name : {"p.txt", "ca.csv", "m.nmd", "none"}) {
    EXPECT_FALSE(std::filesystem::exists(dir_->path(name))) << name;
  }
}

}  // namespace
}  // namespace kvtraj
