#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fmtwriters/fmtwriters.hpp"
#include "fmtwriters/formats.hpp"
#include "support/files.hpp"
#include "support/fixed_text.hpp"
#include "support/messages.hpp"

namespace kvtraj {
namespace {

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Formats that name every atom: what is wrong with `atoms` for them, or nothing.
std::optional<std::string> records_problem(TrajectoryFormat format, std::int32_t natoms,
                                           std::span<const AtomRecord> atoms) {
  if (format != TrajectoryFormat::pdb && format != TrajectoryFormat::gro) return std::nullopt;
  const char* name = format == TrajectoryFormat::pdb ? "PDB" : "GRO";
  if (atoms.empty()) return std::string(name) + " output needs atom names: give a topology";
  if (atoms.size() != static_cast<std::size_t>(natoms)) {
    return std::string(name) + " output of " + std::to_string(natoms) + " atoms got " +
           std::to_string(atoms.size()) + " atom records";
  }
  return std::nullopt;
}

}  // namespace

std::int64_t wrapped(std::int64_t value, int digits) {
  std::int64_t limit = 1;
  for (int d = 0; d < digits; ++d) limit *= 10;
  if (value < limit && value > -limit / 10) return value;
  const std::int64_t rest = value % limit;
  return rest < 0 ? rest + limit : rest;
}

std::optional<TrajectoryFormat> format_from_extension(std::string_view path) {
  path = trim_right(path);
  if (ends_with(path, ".dcd")) return TrajectoryFormat::dcd;
  if (ends_with(path, ".binpos")) return TrajectoryFormat::binpos;
  if (ends_with(path, ".crdbox")) return TrajectoryFormat::crdbox;
  if (ends_with(path, ".crd") || ends_with(path, ".mdcrd")) return TrajectoryFormat::crd;
  if (ends_with(path, ".xtc")) return TrajectoryFormat::xtc;
  if (ends_with(path, ".trr")) return TrajectoryFormat::trr;
  if (ends_with(path, ".nc") || ends_with(path, ".ncdf")) return TrajectoryFormat::netcdf;
  if (ends_with(path, ".pdb")) return TrajectoryFormat::pdb;
  if (ends_with(path, ".gro")) return TrajectoryFormat::gro;
  return std::nullopt;
}

std::unique_ptr<TrajectoryWriter> TrajectoryWriter::create(const std::string& path,
                                                           TrajectoryFormat format,
                                                           std::int32_t natoms, bool with_cell,
                                                           std::string_view title, float precision,
                                                           std::span<const AtomRecord> atoms) {
  if (natoms < 1) {
    report_error(path + ": cannot write a trajectory of " + std::to_string(natoms) + " atoms");
    return nullptr;
  }
  if (const auto problem = records_problem(format, natoms, atoms)) {
    report_error(path + ": " + *problem);
    return nullptr;
  }
  auto out = ReplacingFile::create(path);
  if (!out) {
    report_error(path + ": cannot open for writing: " + std::strerror(errno));
    return nullptr;
  }
  WriterSetup setup{std::move(out), path, natoms, with_cell, precision, atoms};
  std::unique_ptr<TrajectoryWriter> writer;
  switch (format) {
    case TrajectoryFormat::dcd:
      writer = make_dcd_writer(std::move(setup));
      break;
    case TrajectoryFormat::binpos:
      writer = make_binpos_writer(std::move(setup));
      break;
    case TrajectoryFormat::crdbox:
      setup.with_cell = true;
      writer = make_amber_writer(std::move(setup));
      break;
    case TrajectoryFormat::crd:
      writer = make_amber_writer(std::move(setup));
      break;
    case TrajectoryFormat::xtc:
      writer = make_xtc_writer(std::move(setup));
      break;
    case TrajectoryFormat::trr:
      writer = make_trr_writer(std::move(setup));
      break;
    case TrajectoryFormat::netcdf:
      writer = make_netcdf_writer(std::move(setup));
      break;
    case TrajectoryFormat::pdb:
      writer = make_pdb_writer(std::move(setup));
      break;
    case TrajectoryFormat::gro:
      writer = make_gro_writer(std::move(setup));
      break;
  }
  return writer->put_header(title) ? std::move(writer) : nullptr;
}

TrajectoryWriter::TrajectoryWriter(std::unique_ptr<ReplacingFile> out, std::string path,
                                   std::int32_t natoms, bool with_cell)
    : out_(std::move(out)), path_(std::move(path)), natoms_(natoms), with_cell_(with_cell) {}

bool TrajectoryWriter::write_frame(std::span<const float> coords, const UnitCell& cell) {
  if (failed_) return false;
  if (coords.size() < 3 * static_cast<std::size_t>(natoms_)) {
    return fail(path_ + ": frame has " + std::to_string(coords.size()) + " coordinates, " +
                std::to_string(3 * static_cast<std::int64_t>(natoms_)) + " expected");
  }
  if (!put_frame(coords.first(3 * static_cast<std::size_t>(natoms_)), cell)) return false;
  ++frames_;
  return true;
}

bool TrajectoryWriter::finish() {
  if (failed_ || !put_trailer()) return false;
  failed_ = true;  // the file is gone from this writer whatever happens next
  return out_->commit() || fail(path_ + ": cannot write: " + std::strerror(errno));
}

bool TrajectoryWriter::put(const void* data, std::size_t bytes) {
  if (std::fwrite(data, 1, bytes, out_->get()) == bytes) return true;
  return fail(path_ + ": cannot write: " + std::strerror(errno));
}

bool TrajectoryWriter::put_text(std::string& text) {
  const bool ok = put(text.data(), text.size());
  text.clear();
  return ok;
}

bool TrajectoryWriter::fail(const std::string& message) {
  failed_ = true;
  report_error(message);
  return false;
}

bool TrajectoryWriter::fail_unfit(double value, std::string_view field) {
  char shown[32];
  std::snprintf(shown, sizeof shown, "%g", value);
  return fail("value " + std::string(shown) + " in frame " + std::to_string(frames_ + 1) +
              " does not fit the " + std::string(field));
}

}  // namespace kvtraj
