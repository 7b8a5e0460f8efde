// The import run. Every look-up of the conversion takes the first record, in
// record order, that matches exactly; the tables are read once into memory
// and each look-up goes through a hash index built once per run that maps a
// key to the first record holding it, so a run is linear in the size of the
// tables instead of scanning a table per lesson.
//
// Text read from a table is its stored text without trailing blanks (the
// table layer's Text()), so equal codes match across fields of different
// widths; leading blanks count.
#include "import/import_run.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "export/working_set.h"
#include "export/working_tables.h"
#include "import/sauce_output.h"
#include "platform/codepage.h"
#include "platform/dbf.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/xml_document.h"

namespace tvs {
namespace {

// ---------------------------------------------------------------------------
// Opening the tables

OpenDbf OpenExclusive(const std::string& folder, std::string_view name) {
  const std::string file = TableFileName(name);
  std::string path = FindIgnoringCase(folder, file);
  if (path.empty()) path = JoinPath(folder, file);  // Open() reports it missing
  return OpenDbf::Open(path, OpenMode::kExclusive, std::string(name));
}

// One open table with the fields the run reads, resolved by name once, right
// after opening, so a missing field fails before anything is converted.
struct Table {
  OpenDbf file;
  const DbfTable& t() const { return file.table(); }
  size_t Count() const { return t().RecordCount(); }
  std::string_view Text(size_t record, size_t field) const { return t().Text(record, field); }
};

struct Soluc : Table {
  size_t prof, asig, codgrupo, tarea, dia, hora, marco, aula;
};
struct Grupost : Table {
  size_t abrev, clave, clavecurso;
};
struct Proft : Table {
  size_t abrev, x_empleado, f_tomapos;
};
struct Aulat : Table {
  size_t abrev, depcentro;
};
struct Asignomt : Table {
  size_t cod, codtarea;
};
struct Asignomt2 : Table {
  size_t cod, clavecurso, alectiva, materia;
};
struct Diashorast : Table {
  size_t diho, marco, dia, coddiho;
};
struct Asigt : Table {
  size_t casig, cgrup, clave;
};

// The nine tables, opened for exclusive use in the fixed order (which is the
// order a held or missing table is reported in) and closed in the same order.
struct ImportTables {
  Soluc soluc;
  Grupost grupost;
  Table cursost;  // opened and closed only: its lock keeps the set together
  Proft proft;
  Aulat aulat;
  Asignomt asignomt;
  Asignomt2 asignomt2;
  Diashorast diashorast;
  Asigt asigt;

  void CloseAll() {
    Table* in_order[] = {&soluc,    &grupost,   &cursost,    &proft, &aulat,
                         &asignomt, &asignomt2, &diashorast, &asigt};
    for (Table* table : in_order) table->file.Close();
  }
};

void OpenTables(const std::string& folder, ImportTables& tables) {
  Soluc& s = tables.soluc;
  s.file = OpenExclusive(folder, kSoluc);
  s.prof = s.t().FieldIndex("PROF");
  s.asig = s.t().FieldIndex("ASIG");
  s.codgrupo = s.t().FieldIndex("CODGRUPO");
  s.tarea = s.t().FieldIndex("TAREA");
  s.dia = s.t().FieldIndex("DIA");
  s.hora = s.t().FieldIndex("HORA");
  s.marco = s.t().FieldIndex("MARCO");
  s.aula = s.t().FieldIndex("AULA");

  Grupost& g = tables.grupost;
  g.file = OpenExclusive(folder, kGrupost);
  g.abrev = g.t().FieldIndex("ABREV");
  g.clave = g.t().FieldIndex("CLAVE");
  g.clavecurso = g.t().FieldIndex("CLAVECURSO");

  tables.cursost.file = OpenExclusive(folder, kCursost);

  Proft& p = tables.proft;
  p.file = OpenExclusive(folder, kProft);
  p.abrev = p.t().FieldIndex("ABREV");
  p.x_empleado = p.t().FieldIndex("X_EMPLEADO");
  p.f_tomapos = p.t().FieldIndex("F_TOMAPOS");

  Aulat& a = tables.aulat;
  a.file = OpenExclusive(folder, kAulat);
  a.abrev = a.t().FieldIndex("ABREV");
  a.depcentro = a.t().FieldIndex("DEPCENTRO");

  Asignomt& n = tables.asignomt;
  n.file = OpenExclusive(folder, kAsignomt);
  n.cod = n.t().FieldIndex("COD");
  n.codtarea = n.t().FieldIndex("CODTAREA");

  Asignomt2& n2 = tables.asignomt2;
  n2.file = OpenExclusive(folder, kAsignomt2);
  n2.cod = n2.t().FieldIndex("COD");
  n2.clavecurso = n2.t().FieldIndex("CLAVECURSO");
  n2.alectiva = n2.t().FieldIndex("ALECTIVA");
  n2.materia = n2.t().FieldIndex("MATERIA");

  Diashorast& d = tables.diashorast;
  d.file = OpenExclusive(folder, kDiashorast);
  d.diho = d.t().FieldIndex("DIHO");
  d.marco = d.t().FieldIndex("MARCO");
  d.dia = d.t().FieldIndex("DIA");
  d.coddiho = d.t().FieldIndex("CODDIHO");

  Asigt& g2 = tables.asigt;
  g2.file = OpenExclusive(folder, kAsigt);
  g2.casig = g2.t().FieldIndex("CASIG");
  g2.cgrup = g2.t().FieldIndex("CGRUP");
  g2.clave = g2.t().FieldIndex("CLAVE");
}

// ---------------------------------------------------------------------------
// Reading values

bool IsNumberField(const DbfTable& table, size_t field) {
  const DbfType type = table.fields()[field].type;
  return type == DbfType::kNumeric || type == DbfType::kFloat;
}

// The text of a number field as the table component gives it: a whole number
// is its decimal digits without a decimal part and without padding, whatever
// width and decimals the field was written with ("         2", "2.00" and
// "2.0000" are all "2"). Any other content (a fraction, an exponent) is the
// stored text without its padding. A character field gives its text as read.
std::string FieldText(const DbfTable& table, size_t record, size_t field) {
  std::string_view text = table.Text(record, field);
  if (!IsNumberField(table, field)) return std::string(text);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);

  std::string_view sign;
  std::string_view rest = text;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    sign = rest.substr(0, 1);
    rest.remove_prefix(1);
  }
  const size_t point = rest.find('.');
  std::string_view digits = rest.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : rest.substr(point + 1);
  auto all_of = [](std::string_view s, auto pred) {
    for (char c : s)
      if (!pred(c)) return false;
    return true;
  };
  const bool whole = !digits.empty() && all_of(digits, [](char c) { return c >= '0' && c <= '9'; }) &&
                     all_of(fraction, [](char c) { return c == '0'; });
  if (!whole) return std::string(text);
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  if (digits == "0") return "0";
  return std::string(sign == "-" ? "-" : "") + std::string(digits);
}

std::string ByteHex(unsigned char byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 0xF];
}

bool AllBlanks(std::string_view text) {
  for (char c : text)
    if (c != ' ') return false;
  return true;
}

// A value about to go into the document: the output refuses a control
// character XML cannot carry; saying here which record of which table holds
// it lets the user mend the table (records counted as the table layer
// counts them, deleted ones left out).
std::string_view Checked(const DbfTable& table, size_t record, size_t field,
                         std::string_view value) {
  const size_t bad = FindByteXmlCannotHold(value);
  if (bad != std::string_view::npos) {
    throw Error("La tabla " + table.name() + ", registro " + std::to_string(record + 1) +
                ", campo " + table.fields()[field].name + ", lleva el carácter de control " +
                ByteHex(static_cast<unsigned char>(value[bad])) +
                " (\"" + FromWindows1252(value.substr(0, bad)) +
                "...\"), que un documento XML no admite");
  }
  return value;
}

// ---------------------------------------------------------------------------
// Indexes: key -> first record holding it, in record order

constexpr size_t kNone = static_cast<size_t>(-1);

// The first record whose `N` key fields hold a key, found without a walk.
// Open addressing over one flat array: a slot holds a record number and part
// of the key's hash, and the key itself is read back from the table to be
// compared. A look-up mostly costs one memory access, and a district's tables
// (ASIGT has a row per subject and group) need no node per record.
template <size_t N>
class FirstRecordIndex {
 public:
  using Key = std::array<std::string_view, N>;

  FirstRecordIndex(const Table& table, const std::array<size_t, N>& fields) : table_(table), fields_(fields) {
    size_t capacity = 16;
    while (capacity < 2 * table.Count()) capacity *= 2;
    slots_.assign(capacity, Slot{0, kEmpty});
    mask_ = capacity - 1;
    for (size_t r = 0; r < table.Count(); ++r) {
      Key key;
      for (size_t k = 0; k < N; ++k) key[k] = table.Text(r, fields_[k]);
      const size_t hash = Hash(key);
      const auto tag = static_cast<uint32_t>(hash >> 32);
      for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
        Slot& slot = slots_[i];
        if (slot.record == kEmpty) {
          slot = {tag, static_cast<uint32_t>(r)};
          break;
        }
        if (slot.tag == tag && Holds(slot.record, key)) break;  // an earlier record has it
      }
    }
  }

  size_t Find(const Key& key) const {
    const size_t hash = Hash(key);
    const auto tag = static_cast<uint32_t>(hash >> 32);
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.record == kEmpty) return kNone;
      if (slot.tag == tag && Holds(slot.record, key)) return slot.record;
    }
  }

 private:
  struct Slot {
    uint32_t tag;
    uint32_t record;  // kEmpty for a free slot; dBase counts records in 32 bits
  };
  static constexpr uint32_t kEmpty = 0xFFFFFFFF;

  static size_t Hash(const Key& key) {
    size_t hash = std::hash<std::string_view>()(key[0]);
    for (size_t k = 1; k < N; ++k)
      hash ^= std::hash<std::string_view>()(key[k]) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
    return hash;
  }

  bool Holds(size_t record, const Key& key) const {
    for (size_t k = 0; k < N; ++k)
      if (table_.Text(record, fields_[k]) != key[k]) return false;
    return true;
  }

  const Table& table_;
  std::array<size_t, N> fields_;
  std::vector<Slot> slots_;
  size_t mask_ = 0;
};

// ---------------------------------------------------------------------------
// The conversion

class Converter {
 public:
  explicit Converter(const ImportTables& t)
      : t_(t),
        asigt_(t.asigt, {t.asigt.casig, t.asigt.cgrup}),
        asignomt_(t.asignomt, {t.asignomt.cod}),
        grupost_(t.grupost, {t.grupost.abrev}),
        asignomt2_(t.asignomt2, {t.asignomt2.cod, t.asignomt2.clavecurso}),
        diashorast_(t.diashorast, {t.diashorast.diho, t.diashorast.marco}),
        aulat_(t.aulat, {t.aulat.abrev}) {}

  // The six values of the lesson in SOLUC record `s`, read from the tables.
  // The slot key and frame mark are built here and kept in members, so the
  // returned views stay valid until the next call.
  LessonValues Convert(size_t s) {
    const Soluc& sol = t_.soluc;
    const std::string_view asig = sol.Text(s, sol.asig);
    const std::string_view codgrupo = sol.Text(s, sol.codgrupo);
    LessonValues v;

    // 1. Subject key from the assignment of this subject to this group.
    std::string_view subject;
    if (size_t r = asigt_.Find({asig, codgrupo}); r != kNone)
      subject = Value(t_.asigt, r, t_.asigt.clave);

    // 2. Activity: the task's Sauce key, or the task code itself.
    const std::string_view tarea = sol.Text(s, sol.tarea);
    if (size_t r = asignomt_.Find({tarea}); r != kNone)
      v.x_actividad = Value(t_.asignomt, r, t_.asignomt.codtarea);
    else
      v.x_actividad = Checked(sol.t(), s, sol.tarea, tarea);

    // 3. Group key and the key of its course.
    std::string_view course;
    if (size_t r = grupost_.Find({codgrupo}); r != kNone) {
      v.x_unidad = Value(t_.grupost, r, t_.grupost.clave);
      course = t_.grupost.Text(r, t_.grupost.clavecurso);
    }

    // 4. No subject key from the assignment: the subject of the group's
    // course decides, and only when it is an elective does it give a key.
    if (AllBlanks(subject)) {
      if (size_t r = asignomt2_.Find({asig, course}); r != kNone) {
        const Asignomt2& n2 = t_.asignomt2;
        subject = AllBlanks(n2.Text(r, n2.alectiva)) ? std::string_view()
                                                      : Value(n2, r, n2.materia);
      }
    }
    v.x_materiaomc = subject;

    // 5. Time slot: day text and hour number, within the lesson's frame.
    slot_key_ = FieldText(sol.t(), s, sol.dia) + std::to_string(sol.t().Integer(s, sol.hora));
    frame_mark_ = FieldText(sol.t(), s, sol.marco).substr(0, 1);
    if (size_t r = diashorast_.Find({slot_key_, frame_mark_}); r != kNone) {
      v.n_diasemana = Value(t_.diashorast, r, t_.diashorast.dia);
      v.x_tramo = Value(t_.diashorast, r, t_.diashorast.coddiho);
    }

    // 6. Room.
    if (size_t r = aulat_.Find({sol.Text(s, sol.aula)}); r != kNone)
      v.x_depcentro = Value(t_.aulat, r, t_.aulat.depcentro);
    return v;
  }

 private:
  static std::string_view Value(const Table& table, size_t record, size_t field) {
    return Checked(table.t(), record, field, table.Text(record, field));
  }

  const ImportTables& t_;
  FirstRecordIndex<2> asigt_;
  FirstRecordIndex<1> asignomt_;
  FirstRecordIndex<1> grupost_;
  FirstRecordIndex<2> asignomt2_;
  FirstRecordIndex<2> diashorast_;
  FirstRecordIndex<1> aulat_;
  std::string slot_key_;
  std::string frame_mark_;
};

}  // namespace

ImportSummary ImportRun(const std::string& xml_path, const std::string& working_folder) {
  // An export killed in the middle of replacing the working set is finished
  // first, so the tables read below belong to one export.
  RecoverWorkingSet(working_folder);

  ImportTables tables;
  OpenTables(working_folder, tables);

  XmlDocument doc;
  doc.LoadWellFormed(xml_path, OutputLoadOptions());

  const Proft& proft = tables.proft;
  const Soluc& soluc = tables.soluc;
  // The output is written beside the chosen file as it grows, under a
  // temporary name until the end.
  const std::string output_path = SauceOutputPath(xml_path);
  SauceOutput output = SauceOutput::StartWritingTo(doc, proft.Count(), output_path);

  // The records of every teacher code, in record order.
  std::unordered_map<std::string_view, std::vector<size_t>> records_of;
  for (size_t r = 0; r < soluc.Count(); ++r) records_of[soluc.Text(r, soluc.prof)].push_back(r);

  ImportSummary summary;
  std::unordered_set<std::string_view> walked;  // teacher codes already counted
  Converter converter(tables);
  for (size_t p = 0; p < proft.Count(); ++p) {
    const std::string_view abrev = proft.Text(p, proft.abrev);
    const SauceOutput::Teacher teacher = output.AddTeacher(
        p + 1, Checked(proft.t(), p, proft.x_empleado, proft.Text(p, proft.x_empleado)),
        Checked(proft.t(), p, proft.f_tomapos, proft.Text(p, proft.f_tomapos)));
    ++summary.teachers;

    // Teachers sharing a code each list all the records of that code; the
    // records passed over are counted once.
    const bool first_walk = walked.insert(abrev).second;
    auto it = records_of.find(abrev);
    if (it == records_of.end()) continue;
    size_t lesson = 1;
    for (size_t s : it->second) {
      if (soluc.t().Integer(s, soluc.dia) == 0) {
        if (first_walk) ++summary.skipped_day_zero;
        continue;
      }
      output.AddLesson(teacher, lesson++, converter.Convert(s));
      ++summary.lessons;
    }
  }
  for (const auto& [prof, records] : records_of)
    if (!walked.contains(prof)) summary.unknown_teacher += records.size();

  tables.CloseAll();
  output.Finish();
  summary.output_path = output_path;
  return summary;
}

}  // namespace tvs
