// CrearDiasHoras: the day and hour slots of DIASHORAST.
//
// Reads the frame list JORNADAS (to choose the one or two frames the timetable
// uses) and the interval list INTERVALOS (seven rows per interval, days 1 to
// 7, whatever its frame). The hours of each chosen frame are then numbered 1,
// 2, 3 ... per day without gaps, and each chosen frame gets its frame mark:
// "0" for the frame whose first hour of day 1 begins earlier, "1" for the
// other. Rows of frames not chosen keep their exported hour and a blank mark.
//
// Throws Error when the document holds no frame (or its only frame has no
// code), and when a start or end time is not of the form hour, colon, minutes.
#include <string>
#include <string_view>
#include <unordered_map>

#include "export/builders.h"
#include "export/sauce_lists.h"
#include "export/working_tables.h"
#include "platform/codepage.h"
#include "platform/error.h"

namespace tvs {
namespace {

constexpr std::string_view kFrameList = "JORNADAS";
constexpr std::string_view kIntervalList = "INTERVALOS";
constexpr int kDays = 7;
// Hour numbers looked for when a chosen frame is renumbered; ORDEN values
// beyond this keep their number.
constexpr int kMaxHour = 40;
// Start of a frame that has no hour 1 on day 1, when it is the second frame:
// 24:00, so that the first frame gets the mark "0".
constexpr int kNoSecondStart = 24 * 60;
// A chosen text of exactly this length holds two codes of 10 characters each.
constexpr size_t kTwoCodesLength = 20;
constexpr size_t kCodeWidth = 10;

// The items of an interval, found by the `dato` attribute of its salidas.
struct Interval {
  std::string codigo_sauce;
  std::string nombre;
  std::string inicio;
  std::string fin;
  std::string orden;
  std::string clave_jornada;

  std::string* Item(std::string_view dato) {
    if (dato == "CODIGO_SAUCE") return &codigo_sauce;
    if (dato == "NOMBRE") return &nombre;
    if (dato == "INICIO") return &inicio;
    if (dato == "FIN") return &fin;
    if (dato == "ORDEN") return &orden;
    if (dato == "CLAVE_JORNADA") return &clave_jornada;
    return nullptr;
  }
};

Interval ReadInterval(const XmlNode& entry) {
  Interval interval;
  const XmlNodeList salidas = entry.ChildElements("salida");
  for (size_t i = 0; i < salidas.Count(); ++i) {
    const XmlNode salida = salidas.Item(i);
    // Sauce names every item; a salida without a name cannot be placed and is
    // passed over. The name is compared as it stands, untrimmed.
    if (!salida.HasAttribute("dato")) continue;
    if (std::string* item = interval.Item(salida.Attribute("dato"))) *item = ValueRule(salida);
  }
  if (interval.clave_jornada.size() > kCodeWidth) interval.clave_jornada.resize(kCodeWidth);
  return interval;
}

// A decimal integer: an optional sign, then at least one digit, nothing else.
bool ParseDecimal(std::string_view text, int& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 1'000'000'000) return false;  // more digits than a time can hold
  }
  value = static_cast<int>(negative ? -v : v);
  return true;
}

// Characters `first` to `first + count - 1` (counted from 1), as many as there
// are.
std::string_view Chars(std::string_view text, size_t first, size_t count) {
  if (first > text.size()) return {};
  return text.substr(first - 1, count);
}

// "8:00" becomes "08:00"; a time of 5 characters or more is left as it is.
std::string PadTime(const std::string& time) { return time.size() < 5 ? "0" + time : time; }

// Minutes since midnight of a padded time: 60 × characters 1-2 plus
// characters 4 to (4 + minute_chars - 1). False when either part is not a
// decimal integer.
bool TimeMinutes(std::string_view padded, size_t minute_chars, int& minutes) {
  int hours = 0, mins = 0;
  if (!ParseDecimal(Chars(padded, 1, 2), hours) || !ParseDecimal(Chars(padded, 4, minute_chars), mins))
    return false;
  minutes = 60 * hours + mins;
  return true;
}

std::string IntervalLocation(size_t position, const Interval& interval) {
  std::string where = "del intervalo " + std::to_string(position + 1);
  where += interval.codigo_sauce.empty()
               ? std::string(" (sin código)")
               : " (código " + FromWindows1252(interval.codigo_sauce) + ")";
  return where + " de la lista " + std::string(kIntervalList);
}

int IntervalTime(const std::string& padded, const std::string& as_given, const char* which,
                 size_t position, const Interval& interval) {
  int minutes = 0;
  if (!TimeMinutes(padded, 5, minutes))
    throw Error(std::string("La hora de ") + which + " «" + FromWindows1252(as_given) + "» " +
                IntervalLocation(position, interval) +
                " no es válida: se espera hora, dos puntos y minutos (por ejemplo 08:30)");
  return minutes;
}

// The chosen frames: one code, or two codes of 10 characters each.
std::string PickFrames(ExportContext& ctx) {
  const XmlNodeList frames = SelectEntries(ctx.doc(), kFrameList);
  if (frames.Count() == 0)
    throw Error("El documento no contiene ningún marco horario (lista " + std::string(kFrameList) +
                "): no se pueden crear los días y horas de la tabla DIASHORAST");
  std::string chosen;
  if (frames.Count() == 1) {
    const Entry frame(frames.Item(0));
    if (frame.Count() == 0)
      throw Error("El único marco horario del documento (" + EntryLocation(kFrameList, 0) +
                  ") no tiene código: no se pueden crear los días y horas de la tabla DIASHORAST");
    chosen = frame.Value(0);
  } else {
    chosen = ctx.chooser().ChooseFrames(ctx.doc(), ctx.xml_path());
  }
  if (chosen.size() > kTwoCodesLength) chosen.resize(kTwoCodesLength);
  return chosen;
}

class SlotRows {
 public:
  explicit SlotRows(DbfTable& table)
      : table_(table),
        diho_(table.FieldIndex("DIHO")),
        hora_(table.FieldIndex("HORA")),
        horadesde_(table.FieldIndex("HORADESDE")),
        marco_(table.FieldIndex("MARCO")),
        marcoxml_(table.FieldIndex("MARCOXML")) {}

  void Append(const Interval& interval, int minutes) {
    for (int d = 1; d <= kDays; ++d) {
      const std::string day = std::to_string(d);
      table_.Append();
      table_.SetText("DIHO", day + interval.orden);
      table_.SetText("CODDIHO", interval.codigo_sauce);
      table_.SetText("DIA", day);
      table_.SetText("HORA", interval.orden);
      table_.SetText("TEXTOHOR", interval.nombre);
      table_.SetText("HORADESDE", interval.inicio);
      table_.SetText("HORAHASTA", interval.fin);
      table_.SetText("MINUTOS", std::to_string(minutes));
      table_.SetText("MARCOXML", interval.clave_jornada);
    }
  }

  // Numbers the hours of the frame `code` 1, 2, 3 ... per day, in the order
  // of hour numbers 1 to 40 found in DIHO; for each number, the first row in
  // row order holding it is renumbered, later rows with the same number keep
  // theirs.
  //
  // A row found by n gets a number h <= n, and on day d only the numbers
  // after n are looked for afterwards; so neither the row's old value nor its
  // new one is looked for again in this pass, and an index of DIHO values
  // taken when the pass starts answers every look-up of the pass. (A second
  // pass, for a second code equal to the first, sees the new values.)
  void Renumber(std::string_view code) {
    std::unordered_map<std::string, size_t> first_row;
    for (size_t r = 0; r < table_.RecordCount(); ++r)
      if (table_.Text(r, marcoxml_) == code) first_row.emplace(std::string(table_.Text(r, diho_)), r);

    for (int d = 1; d <= kDays; ++d) {
      const std::string day = std::to_string(d);
      int h = 1;
      for (int n = 1; n <= kMaxHour; ++n) {
        auto it = first_row.find(day + std::to_string(n));
        if (it == first_row.end()) continue;
        table_.SetText(it->second, diho_, day + std::to_string(h));
        table_.SetText(it->second, hora_, std::to_string(h));
        ++h;
      }
    }
  }

  // Start, in minutes, of hour 1 of day 1 of the frame `code`; `fallback`
  // when the frame has no such row.
  int FirstStart(std::string_view code, int fallback) const {
    for (size_t r = 0; r < table_.RecordCount(); ++r) {
      if (table_.Text(r, diho_) != "11" || table_.Text(r, marcoxml_) != code) continue;
      // HORADESDE holds a start time checked when its row was written: its
      // characters 1-2 and 4-8 are decimal integers, and the characters 4-5,
      // a sign followed by a digit or one or two digits, are one as well.
      int start = 0;
      if (!TimeMinutes(table_.Text(r, horadesde_), 2, start))
        throw Error("La hora de inicio «" + FromWindows1252(table_.Text(r, horadesde_)) +
                    "» de la fila " + std::to_string(r + 1) + " de la tabla DIASHORAST no es válida");
      return start;
    }
    return fallback;
  }

  void Mark(std::string_view first_code, char first_mark, std::string_view second_code,
            char second_mark) {
    const std::string first(1, first_mark), second(1, second_mark);
    for (size_t r = 0; r < table_.RecordCount(); ++r) {
      const std::string_view frame = table_.Text(r, marcoxml_);
      if (frame == first_code)
        table_.SetText(r, marco_, first);
      else if (!second_code.empty() && frame == second_code)
        table_.SetText(r, marco_, second);
    }
  }

 private:
  DbfTable& table_;
  size_t diho_, hora_, horadesde_, marco_, marcoxml_;
};

}  // namespace

void CrearDiasHoras(ExportContext& ctx) {
  DbfTable& table = ctx.NewTable(kDiashorast);

  ctx.marcos_elegidos = PickFrames(ctx);
  const std::string& chosen = ctx.marcos_elegidos;
  std::string first_code, second_code;
  if (chosen.size() == kTwoCodesLength) {
    first_code = TrimControls(Chars(chosen, 1, kCodeWidth));
    second_code = TrimControls(Chars(chosen, kCodeWidth + 1, kCodeWidth));
  } else {
    first_code = TrimControls(Chars(chosen, 1, kCodeWidth));
  }

  SlotRows rows(table);
  const XmlNodeList intervals = SelectEntries(ctx.doc(), kIntervalList);
  for (size_t i = 0; i < intervals.Count(); ++i) {
    Interval interval = ReadInterval(intervals.Item(i));
    const std::string inicio = PadTime(interval.inicio);
    const std::string fin = PadTime(interval.fin);
    const int start = IntervalTime(inicio, interval.inicio, "inicio", i, interval);
    const int end = IntervalTime(fin, interval.fin, "fin", i, interval);
    interval.inicio = inicio;
    interval.fin = fin;
    rows.Append(interval, end - start);
  }

  rows.Renumber(first_code);
  if (!second_code.empty()) rows.Renumber(second_code);

  const int first_start = rows.FirstStart(first_code, 0);
  const int second_start = second_code.empty() ? kNoSecondStart : rows.FirstStart(second_code, kNoSecondStart);
  const bool first_earlier = first_start <= second_start;
  rows.Mark(first_code, first_earlier ? '0' : '1', second_code, first_earlier ? '1' : '0');
}

}  // namespace tvs
