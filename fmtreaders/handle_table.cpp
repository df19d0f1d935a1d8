// The handle table `handcom` and the dispatch of opens, reads and closes to the readers.
#include <mutex>
#include <new>
#include <string>

#include "fmtreaders/parked_reader.hpp"
#include "fmtreaders/readers.hpp"
#include "support/fatal.hpp"
#include "support/fixed_text.hpp"
#include "support/fortran_input.hpp"
#include "support/messages.hpp"

namespace kvtraj {
namespace {

// What the table keeps beside each slot: the reader, and the file it reads for reuse on close.
struct SlotState {
  std::unique_ptr<readers::FrameReader> reader;
  std::string path;
  readers::FileStamp stamp;
};

// The process-wide state of the readers: `handcom`, the slots' readers, and the reader kept
// from the last close.
std::array<std::int32_t, 100> table{};
std::array<SlotState, kHandleSlots> slots;
readers::ParkedReader parked;
// Opens and closes change the table's entries and the parked reader: one at a time, whichever
// thread. Reads go to the slot of their own handle and need no lock.
std::mutex open_close_mutex;

bool valid_handle(std::int32_t handle) {
  return handle >= kFirstHandle && handle <= kLastHandle;
}

std::size_t slot_index(std::int32_t handle) {
  return static_cast<std::size_t>(handle - kFirstHandle);
}

// The lowest free slot, taken for a new handle; a full table is fatal.
std::int32_t take_slot() {
  for (std::int32_t i = 0; i < kHandleSlots; ++i) {
    if (table[static_cast<std::size_t>(i)] < 1) {
      const std::int32_t handle = i + kFirstHandle;
      table[static_cast<std::size_t>(i)] = handle;
      return handle;
    }
  }
  die(stdout, "Error - too many file handles needed");
}

struct TypeName {
  std::string_view name;
  std::int32_t code;
};
constexpr std::array<TypeName, 8> kTypeNames = {{{"crd", kTypeCrd},
                                                 {"crdbox", kTypeCrdBox},
                                                 {"binpos", kTypeBinpos},
                                                 {"dcd", kTypeDcd},
                                                 {"xtc", kTypeXtc},
                                                 {"trr", kTypeTrr},
                                                 {"nc", kTypeNetcdf},
                                                 {"ncdf", kTypeNetcdf}}};

std::int32_t code_of(std::string_view name) {
  for (const TypeName& t : kTypeNames) {
    if (name == t.name) return t.code;
  }
  return kTypeNone;
}

// The type that "auto" takes from the text after the first "." of the file's own name (the
// last path component, so that directories such as "../data" do not count). Returns nothing
// for a name without ".", which leaves the type entry as it is.
std::optional<std::int32_t> type_from_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = base.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::int32_t code = code_of(base.substr(dot + 1));
  if (code != kTypeNone) inform("file type is " + std::string(base.substr(dot + 1)));
  return code;
}

// Gives the slot of `handle` the reader kept from an earlier close of the same file, if any.
bool reuse_reader(std::int32_t handle, std::int32_t requested, std::int32_t& file_natoms) {
  const SlotState& slot = slots[slot_index(handle)];
  std::int32_t type = kTypeNone;
  auto reader = parked.unpark(slot.path, slot.stamp, requested, type);
  if (!reader) return false;
  file_natoms = reader->file_atoms();
  readers::install_reader(handle, std::move(reader));
  readers::type_entry(handle) = type;
  return true;
}

// The file's atom count replaces the caller's: a warning when the caller gave a count, mere
// information when it gave none (0) and asked the file.
void natoms_reset(const char* format, std::int32_t given, std::int32_t found) {
  emit(given > 0 ? MessageKind::warning : MessageKind::info,
       std::string("Warning: ") + format + " file resetting natoms to " + std::to_string(found));
}

void open_dcd(std::int32_t& handle, std::int32_t& natoms, const std::string& path) {
  inform("Attempting to open dcd file");
  std::int32_t file_natoms = 0;
  if (!reuse_reader(handle, kTypeDcd, file_natoms)) dcdopen(handle, path, file_natoms);
  if (handle < 0) return;
  if (file_natoms != natoms) {
    natoms_reset("dcd", natoms, file_natoms);
    natoms = file_natoms;
  }
}

void open_binpos(std::int32_t handle, std::int32_t& natoms, const std::string& path) {
  inform("Attempting to open binpos file");
  std::int32_t file_natoms = 0;
  if (!reuse_reader(handle, kTypeBinpos, file_natoms)) {
    bool with_box = false;
    readers::install_reader(handle, readers::open_binpos(path, file_natoms, with_box));
    readers::type_entry(handle) = with_box ? kTypeBinposBox : kTypeBinpos;
  }
  if (file_natoms != natoms) {
    natoms_reset("binpos", natoms, file_natoms);
    natoms = file_natoms;
  }
  if (readers::type_entry(handle) == kTypeBinposBox) inform("binpos file has box");
}

// TRR and NetCDF: the opener gives the reader and its type code, or null after writing why it
// refused the file.
using Opener = std::unique_ptr<readers::FrameReader> (*)(const std::string&, std::int32_t&,
                                                         std::int32_t&);

void open_by(Opener opener, const char* name, std::int32_t& handle, std::int32_t& natoms,
             const std::string& path) {
  inform(std::string("Attempting to open ") + name + " file");
  std::int32_t file_natoms = 0;
  if (!reuse_reader(handle, readers::type_entry(handle), file_natoms)) {
    std::int32_t type = kTypeNone;
    auto reader = opener(path, file_natoms, type);
    if (!reader) {
      readers::release_slot(handle);
      handle = -1;
      return;
    }
    readers::install_reader(handle, std::move(reader));
    readers::type_entry(handle) = type;
  }
  if (file_natoms != natoms) {
    natoms_reset(name, natoms, file_natoms);
    natoms = file_natoms;
  }
}

}  // namespace

std::array<std::int32_t, 100>& handcom() {
  return table;
}

namespace readers {

FrameReader* reader_of(std::int32_t handle) {
  if (!valid_handle(handle) || table[slot_index(handle)] != handle) return nullptr;
  return slots[slot_index(handle)].reader.get();
}

void install_reader(std::int32_t handle, std::unique_ptr<FrameReader> reader) {
  slots[slot_index(handle)].reader = std::move(reader);
}

void release_slot(std::int32_t handle) {
  if (!valid_handle(handle)) return;
  slots[slot_index(handle)] = SlotState{};
  table[slot_index(handle)] = 0;
  type_entry(handle) = kTypeNone;
}

std::int32_t& type_entry(std::int32_t handle) {
  return table[static_cast<std::size_t>(handle - 1)];
}

std::int64_t FrameReader::skip(std::int32_t natoms, std::int64_t count) {
  if (natoms < 1) return 0;
  const std::size_t needed = 3 * static_cast<std::size_t>(natoms) + 6;
  if (scratch_.size() < needed) scratch_ = allocate_or_die<float>(needed);
  const std::span<float> all(scratch_);
  std::int64_t passed = 0;
  while (passed < count && read(natoms, all.first(all.size() - 6), all.last(6)) == kIoOk) ++passed;
  return passed;
}

}  // namespace readers

void f77_molfile_init() {
  const std::lock_guard lock(open_close_mutex);
  table.fill(0);
  for (SlotState& s : slots) s = SlotState{};
  parked.drop();
}

void f77_molfile_open_read(std::int32_t& handle, std::int32_t& natoms, std::string_view filename,
                           std::string_view filetype) {
  const std::lock_guard lock(open_close_mutex);
  handle = take_slot();
  const std::string path(trim_right(filename));
  const auto stamp = readers::stamp_of(path);
  if (!stamp) {
    readers::release_slot(handle);
    die(stdout, path + ": no such file?");
  }
  slots[slot_index(handle)].path = path;
  slots[slot_index(handle)].stamp = *stamp;
  std::int32_t& type = readers::type_entry(handle);
  const std::string_view requested = trim_right(filetype);
  if (requested == "auto") {
    if (auto code = type_from_name(path)) type = *code;
  } else if (const std::int32_t code = code_of(requested); code != kTypeNone) {
    type = code;
  }
  switch (type) {
    case kTypeCrd:
    case kTypeCrdBox:
      inform("Attempting to open crd or crdbox file");
      readers::install_reader(handle, readers::open_amber(path, type == kTypeCrdBox));
      natoms = 0;
      return;
    case kTypeBinpos:
      open_binpos(handle, natoms, path);
      return;
    case kTypeDcd:
      open_dcd(handle, natoms, path);
      return;
    case kTypeXtc:
      open_by(readers::open_xtc, "xtc", handle, natoms, path);
      return;
    case kTypeTrr:
      open_by(readers::open_trr, "trr", handle, natoms, path);
      return;
    case kTypeNetcdf:
      open_by(readers::open_netcdf, "netcdf", handle, natoms, path);
      return;
    default:
      readers::release_slot(handle);
      handle = -1;
      report_error("Unrecognised file type");
  }
}

void f77_molfile_read_next(std::int32_t handle, std::int32_t natoms, std::span<float> coords,
                           std::span<float> box, std::int32_t& status) {
  std::int32_t error = kIoReadError;
  const std::int32_t type = f77_molfile_type(handle);
  if (type >= kTypeDcd && type <= kTypeDcd64Cell) {
    dcdreadnext(handle, coords, natoms, box, error);
  } else if (readers::FrameReader* reader = readers::reader_of(handle)) {
    error = reader->read(natoms, coords, box);
  }
  status = error == kIoOk ? 1 : 0;
}

std::int64_t f77_molfile_skip_next(std::int32_t handle, std::int32_t natoms, std::int64_t count) {
  readers::FrameReader* reader = readers::reader_of(handle);
  return reader && count > 0 ? reader->skip(natoms, count) : 0;
}

void f77_molfile_close_read(std::int32_t handle, std::int32_t& status) {
  const std::lock_guard lock(open_close_mutex);
  const std::int32_t type = f77_molfile_type(handle);
  if (type >= kTypeBinpos) {
    SlotState& slot = slots[slot_index(handle)];
    // Parking saves a later open of the same file; without the memory for it (closing runs in
    // destructors, where an exception would end the program) the reader is simply closed.
    try {
      parked.park(std::move(slot.reader), slot.path, slot.stamp, type);
    } catch (const std::bad_alloc&) {
      slot.reader.reset();
    }
  }
  readers::release_slot(handle);
  status = 0;
}

std::int32_t f77_molfile_type(std::int32_t handle) {
  if (!valid_handle(handle) || table[slot_index(handle)] != handle) return kTypeNone;
  return readers::type_entry(handle);
}

bool f77_molfile_cut_inside_frame(std::int32_t handle) {
  const readers::FrameReader* reader = readers::reader_of(handle);
  return reader != nullptr && reader->cut_inside_frame();
}

bool f77_molfile_has_box(std::int32_t handle) {
  const std::int32_t type = f77_molfile_type(handle);
  if (type >= kTypeTrr && type <= kTypeNetcdf) return readers::reader_of(handle)->has_box();
  return type == kTypeCrdBox || type == kTypeBinposBox || type == kTypeDcdCell ||
         type == kTypeDcd64Cell || type == kTypeXtc;
}

float f77_molfile_xtc_precision(std::int32_t handle) {
  const readers::FrameReader* reader = readers::reader_of(handle);
  return reader != nullptr && f77_molfile_type(handle) == kTypeXtc ? reader->precision() : 0.0f;
}

}  // namespace kvtraj
