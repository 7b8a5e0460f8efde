// The catalogue of hostile and broken input, for both runs. Every case starts
// from the same scene: a working folder holding the tables of the example
// export and the example SOLUC, and a folder holding the chosen XML file.
// Each case spoils one thing, runs the export or the import, and checks that
// the run ends with a message that names what is at fault and that both
// folders are byte for byte as they were, with no file added or removed.
//
// Every run happens in a child process, so that a case can give it a
// file system of its own (a read-only folder or a full disk, through a
// private mount namespace when the system allows one) and so that its time
// and memory are measured apart.
#include <fcntl.h>
#include <libxml/xmlstring.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "export/export_run.h"
#include "import/import_run.h"
#include "import/import_test_helpers.h"
#include "platform/dbf.h"
#include "platform/error.h"
#include "platform/files.h"

namespace tvs {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::WriteFile;

const std::string kExample = std::string(TVS_SOURCE_DIR) + "/examples/sauce-export.xml";
const std::string kExampleSoluc = std::string(TVS_SOURCE_DIR) + "/examples/SOLUC.DBF";

// The time-frame dialog with both frames of the example selected.
class BothFrames : public FrameChooser {
 public:
  std::string ChooseFrames(const XmlDocument&, const std::string&) override { return "JM01      JT01      "; }
};

// --- The scene -----------------------------------------------------------------

struct Scene {
  testing::TempFolder root;
  std::string vtemp = root.File("vtemp");
  std::string docs = root.File("docs");
  std::string chosen = docs + "/sauce-export.xml";  // the import's chosen file

  std::string Doc(const std::string& name) const { return docs + "/" + name; }
  std::string Table(const std::string& file) const { return vtemp + "/" + file; }
};

// Every file and folder under `folder`, by relative path, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> all;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string rel = fs::relative(e.path(), folder).string();
    all[rel] = e.is_directory() ? "<carpeta>" : ReadBytes(e.path().string());
  }
  return all;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at == std::string::npos) {
    ADD_FAILURE() << "the example no longer holds «" << from << "»";
    return text;
  }
  return text.replace(at, from.size(), to);
}

// The example without the list `name` (a listasal with entries inside).
std::string WithoutList(std::string text, const std::string& name) {
  const size_t start = text.find("<listasal seq=\"" + name + "\">");
  const size_t next = text.find("<listasal seq=", start + 1);
  const size_t end = text.find("</SALIDAS>", start);
  if (start == std::string::npos || end == std::string::npos) {
    ADD_FAILURE() << "the example has no list " << name;
    return text;
  }
  return text.erase(start, std::min(next, end) - start);
}

void PutU16(std::string& b, size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}
void PutU32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}
unsigned GetU16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}

// The example SOLUC with its header changed by `damage`.
std::string DamagedSoluc(const std::function<void(std::string&)>& damage) {
  std::string b = ReadBytes(kExampleSoluc);
  damage(b);
  return b;
}

// A table like `original` without `field`, or with `value` in the first
// record's `field`: written by our own table layer.
void RewriteTable(const std::string& path, const std::string& name,
                  const std::function<DbfTable(const DbfTable&)>& change) {
  WriteFile(path, EncodeDbf(change(ParseDbf(ReadBytes(path), name))));
}

DbfTable WithoutField(const DbfTable& t, const std::string& field) {
  const size_t gone = t.FieldIndex(field);  // letter case ignored
  std::vector<DbfField> fields;
  for (size_t f = 0; f < t.fields().size(); ++f)
    if (f != gone) fields.push_back(t.fields()[f]);
  DbfTable out(t.name(), fields);
  for (size_t r = 0; r < t.RecordCount(); ++r) {
    out.Append();
    for (size_t f = 0, to = 0; f < t.fields().size(); ++f)
      if (f != gone) out.SetText(r, to++, t.Text(r, f));
  }
  return out;
}

DbfTable WithValue(const DbfTable& t, const std::string& field, const std::string& value) {
  DbfTable out = t;
  out.SetText(0, out.FieldIndex(field), value);
  return out;
}

// --- The environment a case runs in ------------------------------------------------

enum class Setting {
  kPlain,
  kHeldByAnotherProcess,  // `target` is locked by another process
  kReadOnlyFolder,        // `target` (a folder) cannot be written
  kFullDisk,              // `target` (a folder) is on a full disk
};

// A process that holds an exclusive lock on a file, as a program with the
// table open would, until the object is destroyed.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      const int fd = open(path.c_str(), O_RDWR);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      const char ok = fd >= 0 && fcntl(fd, F_OFD_SETLK, &lock) == 0 ? '1' : '0';
      if (write(ready[1], &ok, 1) != 1) _exit(1);
      char c;
      while (read(release[0], &c, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = '0';
    locked_ = read(ready[0], &ok, 1) == 1 && ok == '1';
    close(ready[0]);
  }
  ~LockHolder() {
    close(release_);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

bool EnterPrivateMounts() {
  return unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// True when not even one byte can be written into a new file of `folder`
// (a full disk may still create the empty file).
bool ProbeWriteFails(const std::string& folder) {
  const std::string probe = folder + "/.probe";
  const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return true;
  const bool written = write(fd, "x", 1) == 1 && fsync(fd) == 0;
  close(fd);
  unlink(probe.c_str());
  return !written;
}

bool MountReadOnly(const std::string& folder) {
  return mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0 &&
         ProbeWriteFails(folder);
}

// Puts a small memory file system over `folder` with the folder's files in
// it, then fills it to the last byte.
bool MountFullDisk(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(folder)) files[e.path().filename().string()] = ReadBytes(e.path());
  if (mount("tvs-lleno", folder.c_str(), "tmpfs", 0, "size=1m") != 0) return false;
  for (const auto& [name, bytes] : files) WriteFile(folder + "/" + name, bytes);
  const int fd = open((folder + "/relleno").c_str(), O_WRONLY | O_CREAT, 0644);
  if (fd < 0) return false;
  const std::string block(4096, 'x');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  const bool full = errno == ENOSPC;
  close(fd);
  return full && ProbeWriteFails(folder);
}

// What a run in the child gave.
struct Outcome {
  char kind = '?';  // 'E' tvs::Error, 'X' another exception, 'N' none, '?' no answer
  std::string mechanism = "-";
  bool inside_unchanged = true;  // what only the child's private mount shows
  long rss_growth_kb = 0;
  double seconds = 0;
  std::string message;
};

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void WriteAllTo(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Runs `run` in a child process set up as `setting` asks for `target`.
Outcome RunInChild(Setting setting, const std::string& target, const std::function<void()>& run) {
  int answer[2];
  if (pipe(answer) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    close(answer[0]);
    alarm(120);  // a run that hangs ends here, and the case fails
    std::string mechanism = "-";
    std::map<std::string, std::string> inside_before;
    const auto refuse_writes_under = [&target] {
      SetWriteFaultForTesting([prefix = target + "/"](const std::string& path) { return path.rfind(prefix, 0) != 0; });
    };
    if (setting == Setting::kReadOnlyFolder) {
      if (geteuid() != 0) mechanism = "permisos";  // the parent made it read-only
      else if (EnterPrivateMounts() && MountReadOnly(target)) mechanism = "montaje";
      else mechanism = "simulado", refuse_writes_under();
    } else if (setting == Setting::kFullDisk) {
      if (EnterPrivateMounts() && MountFullDisk(target)) mechanism = "tmpfs";
      else mechanism = "simulado", refuse_writes_under();
      inside_before = Snapshot(target);
    }
    const long rss_before = PeakRssKb();
    char kind = 'N';
    std::string message;
    try {
      run();
    } catch (const Error& e) {
      kind = 'E';
      message = e.what();
    } catch (const std::exception& e) {
      kind = 'X';
      message = e.what();
    }
    const bool unchanged = setting != Setting::kFullDisk || Snapshot(target) == inside_before;
    const std::string growth = std::to_string(PeakRssKb() - rss_before);
    WriteAllTo(answer[1], std::string(1, kind) + (unchanged ? '1' : '0') + mechanism + "\n" + growth + "\n" +
                              message);
    close(answer[1]);
    _exit(0);
  }
  close(answer[1]);
  std::string bytes;
  char buffer[4096];
  ssize_t n;
  while ((n = read(answer[0], buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
  close(answer[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Outcome out;
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const size_t line1 = bytes.find('\n');
  const size_t line2 = line1 == std::string::npos ? line1 : bytes.find('\n', line1 + 1);
  if (bytes.size() < 2 || line2 == std::string::npos) {
    out.message = "the child gave no answer (status " + std::to_string(status) + ")";
    return out;
  }
  out.kind = bytes[0];
  out.inside_unchanged = bytes[1] == '1';
  out.mechanism = bytes.substr(2, line1 - 2);
  out.rss_growth_kb = std::stol(bytes.substr(line1 + 1, line2 - line1 - 1));
  out.message = bytes.substr(line2 + 1);
  return out;
}

// Watches a file for being opened by anyone, from creation to destruction.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK)) {
    if (fd_ >= 0) inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS);
  }
  ~OpenWatch() {
    if (fd_ >= 0) close(fd_);
  }
  bool Working() const { return fd_ >= 0; }
  bool Opened() const {
    alignas(inotify_event) char buffer[4096];
    return read(fd_, buffer, sizeof buffer) > 0;
  }

 private:
  int fd_;
};

// --- The cases ----------------------------------------------------------------------------

enum class RunKind { kExport, kImport };

// What a case's preparation hands to the run.
struct Input {
  RunKind run = RunKind::kExport;
  std::string xml;                   // the file chosen
  std::vector<std::string> message;  // pieces the message must hold
  Setting setting = Setting::kPlain;
  std::string target;                // file or folder of the setting
  std::string secret;                // a file the run must never open
};

struct Case {
  const char* name;
  std::function<Input(const Scene&)> prepare;
};

// Writes `bytes` as the chosen document `name` and exports it.
Input ExportOf(const Scene& s, const std::string& name, const std::string& bytes,
               std::vector<std::string> message) {
  WriteFile(s.Doc(name), bytes);
  return {RunKind::kExport, s.Doc(name), std::move(message)};
}

Input ImportWith(std::vector<std::string> message) {
  return {RunKind::kImport, "", std::move(message)};
}

std::string Example() { return ReadBytes(kExample); }

std::string BillionLaughs() {
  std::string dtd = "<!ENTITY a0 \"jaja\">";
  for (int i = 1; i < 10; ++i) {
    dtd += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) dtd += "&a" + std::to_string(i - 1) + ";";
    dtd += "\">";
  }
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE SERVICIO [" + dtd + "]>\n<SERVICIO>&a9;</SERVICIO>\n";
}

// One internal entity of 100 KB referenced 50 000 times: 5 GB of text if
// it were expanded.
std::string Amplification() {
  std::string refs;
  for (int i = 0; i < 50000; ++i) refs += "&e;";
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE SERVICIO [<!ENTITY e \"" + std::string(100000, 'x') +
         "\">]>\n<SERVICIO><SALIDAS><listasal seq=\"MATERIAS\"><listasal><salida>" + refs +
         "</salida></listasal></listasal></SALIDAS></SERVICIO>\n";
}

std::string LinesOf(size_t count) { return std::string(count, '\n'); }

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      // --- The export document ---
      {"not XML",
       [](const Scene& s) {
         return ExportOf(s, "notas.xml", "Horario provisional: lunes 8:15 matemáticas\n",
                         {"El archivo «" + s.Doc("notas.xml") + "» no es un documento XML válido", "línea 1"});
       }},
      {"truncated XML",
       [](const Scene& s) {
         const std::string whole = Example();
         return ExportOf(s, "cortado.xml", whole.substr(0, whole.size() / 2),
                         {"El archivo «" + s.Doc("cortado.xml") + "» no es un documento XML válido", "línea "});
       }},
      {"root other than SERVICIO",
       [](const Scene& s) {
         return ExportOf(s, "plantilla.xml",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PLANTILLA><SALIDAS/></PLANTILLA>\n",
                         {"El archivo «" + s.Doc("plantilla.xml") +
                          "» no es una exportación de Sauce: su elemento raíz es «PLANTILLA», no SERVICIO"});
       }},
      {"external entity naming a local file",
       [](const Scene& s) {
         const std::string secret = s.root.File("secreto.txt");
         WriteFile(secret, "CLAVE-SECRETA-1234");
         Input in = ExportOf(s, "entidad.xml",
                             "<?xml version=\"1.0\"?>\n<!DOCTYPE SERVICIO [\n<!ENTITY robo SYSTEM \"file://" + secret +
                                 "\">\n]>\n<SERVICIO><SALIDAS><listasal seq=\"PROFESORES\"><listasal><salida>&robo;"
                                 "</salida><salida>x</salida></listasal></listasal></SALIDAS></SERVICIO>\n",
                             {"El archivo «" + s.Doc("entidad.xml") + "»", "declara entidades", "línea 3"});
         in.secret = secret;
         return in;
       }},
      {"external parameter entity naming a local file",
       [](const Scene& s) {
         const std::string secret = s.root.File("secreto.dtd");
         WriteFile(secret, "<!ENTITY robo \"CLAVE-SECRETA-1234\">");
         Input in = ExportOf(s, "parametro.xml",
                             "<?xml version=\"1.0\"?>\n<!DOCTYPE SERVICIO [\n<!ENTITY % p SYSTEM \"file://" + secret +
                                 "\">\n%p;\n]>\n<SERVICIO>&robo;</SERVICIO>\n",
                             {"El archivo «" + s.Doc("parametro.xml") + "»"});
         in.secret = secret;
         return in;
       }},
      {"entity expansion bomb",
       [](const Scene& s) {
         return ExportOf(s, "bomba.xml", BillionLaughs(), {"El archivo «" + s.Doc("bomba.xml") + "»"});
       }},
      {"entity amplification",
       [](const Scene& s) {
         return ExportOf(s, "amplificacion.xml", Amplification(),
                         {"El archivo «" + s.Doc("amplificacion.xml") + "»", "declara entidades", "línea 2"});
       }},
      {"huge text value",
       [](const Scene& s) {
         // Beyond libxml2's 10 MB limit for one text without XML_PARSE_HUGE.
         const std::string doc = Replaced(Example(), "<salida>Matem\xE1ticas</salida>",
                                          "<salida>" + std::string(12'000'000, 'M') + "</salida>");
         return ExportOf(s, "enorme.xml", doc, {"El archivo «" + s.Doc("enorme.xml") + "» no es un documento XML válido", "línea 10",
                                                        "huge text node"});
       }},
      {"huge attribute value",
       [](const Scene& s) {
         const std::string doc =
             Replaced(Example(), "<listasal seq=\"MATERIAS\">", "<listasal seq=\"" + std::string(12'000'000, 'M') + "\">");
         return ExportOf(s, "atributo.xml", doc, {"El archivo «" + s.Doc("atributo.xml") + "» no es un documento XML válido", "línea 9"});
       }},
      {"bytes that are not UTF-8 in a UTF-8 document",
       [](const Scene& s) {
         return ExportOf(s, "latin1.xml",
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SERVICIO><SALIDAS>\n<listasal seq=\"AULAS\">"
                         "<listasal><salida>1</salida><salida>Laboratorio de F\xEDsica</salida></listasal>"
                         "</listasal></SALIDAS></SERVICIO>\n",
                         {"El archivo «" + s.Doc("latin1.xml") + "» no es un documento XML válido", "línea 3",
                          "UTF-8"});
       }},
      {"control character in a value",
       [](const Scene& s) {
         const std::string doc = Replaced(Example(), "<salida>Matem\xE1ticas</salida>", "<salida>Mate\x01m\xE1ticas</salida>");
         return ExportOf(s, "control.xml", doc, {"El archivo «" + s.Doc("control.xml") + "» no es un documento XML válido", "línea 10"});
       }},
      {"control character as a character reference",
       [](const Scene& s) {
         const std::string doc = Replaced(Example(), "<salida>Matem\xE1ticas</salida>", "<salida>Mate&#1;m\xE1ticas</salida>");
         return ExportOf(s, "referencia.xml", doc,
                         {"El archivo «" + s.Doc("referencia.xml") + "» no es un documento XML válido", "línea 10"});
       }},
      {"minutes that are not a number",
       [](const Scene& s) {
         const std::string doc = Replaced(Example(), "<salida>240</salida>", "<salida>dos horas</salida>");
         return ExportOf(s, "minutos.xml", doc,
                         {"Los minutos «dos horas» de la entrada 1 de la lista MATERIAS no son un número entero"});
       }},
      {"start time that is not a time",
       [](const Scene& s) {
         const std::string doc = Replaced(Example(), "<salida dato=\"INICIO\">8:15</salida>", "<salida dato=\"INICIO\">ocho</salida>");
         return ExportOf(s, "horas.xml", doc,
                         {"La hora de inicio «ocho» del intervalo 1 (código 5101) de la lista INTERVALOS no es válida"});
       }},
      {"end time that is not a time",
       [](const Scene& s) {
         const std::string doc = Replaced(Example(), "<salida dato=\"FIN\">9:10</salida>", "<salida dato=\"FIN\">:</salida>");
         return ExportOf(s, "fin.xml", doc,
                         {"La hora de fin «:» del intervalo 1 (código 5101) de la lista INTERVALOS no es válida"});
       }},
      {"no time frames",
       [](const Scene& s) {
         return ExportOf(s, "sinmarcos.xml", WithoutList(Example(), "JORNADAS"),
                         {"El documento no contiene ningún marco horario (lista JORNADAS)"});
       }},
      {"working table held by another process",
       [](const Scene& s) {
         Input in = ExportOf(s, "sauce.xml", Example(), {"ASIGT", s.Table("ASIGT.DBF"), "en uso por otro programa"});
         in.setting = Setting::kHeldByAnotherProcess;
         in.target = s.Table("ASIGT.DBF");
         return in;
       }},
      {"read-only working folder",
       [](const Scene& s) {
         Input in = ExportOf(s, "sauce.xml", Example(), {s.vtemp + "/"});
         in.setting = Setting::kReadOnlyFolder;
         in.target = s.vtemp;
         return in;
       }},
      {"full disk under the working folder",
       [](const Scene& s) {
         Input in = ExportOf(s, "sauce.xml", Example(), {"No queda espacio en el disco", s.vtemp + "/"});
         in.setting = Setting::kFullDisk;
         in.target = s.vtemp;
         return in;
       }},

      // --- The solution table and the working tables ---
      {"SOLUC cut inside its header",
       [](const Scene& s) {
         WriteFile(s.Table("SOLUC.DBF"), ReadBytes(kExampleSoluc).substr(0, 20));
         return ImportWith({"La tabla SOLUC está dañada", "20 bytes"});
       }},
      {"SOLUC cut inside its field descriptors",
       [](const Scene& s) {
         WriteFile(s.Table("SOLUC.DBF"), ReadBytes(kExampleSoluc).substr(0, 100));
         return ImportWith({"La tabla SOLUC está dañada", "descriptores de campo"});
       }},
      {"SOLUC cut inside its records",
       [](const Scene& s) {
         const std::string whole = ReadBytes(kExampleSoluc);
         WriteFile(s.Table("SOLUC.DBF"), whole.substr(0, whole.size() - 200));
         return ImportWith({"La tabla SOLUC está dañada", "registros pero el archivo solo contiene"});
       }},
      {"SOLUC header claiming more records",
       [](const Scene& s) {
         WriteFile(s.Table("SOLUC.DBF"), DamagedSoluc([](std::string& b) { PutU32(b, 4, 0xFFFFFFFFu); }));
         return ImportWith({"La tabla SOLUC está dañada", "la cabecera dice 4294967295 registros"});
       }},
      {"SOLUC header with a record length too short for its fields",
       [](const Scene& s) {
         WriteFile(s.Table("SOLUC.DBF"), DamagedSoluc([](std::string& b) { PutU16(b, 10, GetU16(b, 10) - 3); }));
         return ImportWith({"La tabla SOLUC está dañada", "la longitud de registro", "no coincide con los campos"});
       }},
      {"SOLUC header with a record length beyond the file",
       [](const Scene& s) {
         WriteFile(s.Table("SOLUC.DBF"), DamagedSoluc([](std::string& b) { PutU16(b, 10, 0xFFFF); }));
         return ImportWith({"La tabla SOLUC está dañada", "registros pero el archivo solo contiene"});
       }},
      {"SOLUC header length short of its descriptors",
       [](const Scene& s) {
         WriteFile(s.Table("SOLUC.DBF"), DamagedSoluc([](std::string& b) { PutU16(b, 8, 64); }));
         return ImportWith({"La tabla SOLUC está dañada", "la longitud de cabecera 64 no alcanza"});
       }},
      {"SOLUC header length beyond the file",
       [](const Scene& s) {
         WriteFile(s.Table("SOLUC.DBF"), DamagedSoluc([](std::string& b) { PutU16(b, 8, 0xFFFF); }));
         return ImportWith({"La tabla SOLUC está dañada", "la longitud de cabecera 65535 excede el tamaño"});
       }},
      {"SOLUC lacking a field the import reads",
       [](const Scene& s) {
         RewriteTable(s.Table("SOLUC.DBF"), "SOLUC", [](const DbfTable& t) { return WithoutField(t, "MARCO"); });
         return ImportWith({"La tabla SOLUC no tiene el campo MARCO"});
       }},
      {"working table lacking a field the import reads",
       [](const Scene& s) {
         RewriteTable(s.Table("PROFT.DBF"), "PROFT", [](const DbfTable& t) { return WithoutField(t, "X_EMPLEADO"); });
         return ImportWith({"La tabla PROFT no tiene el campo X_EMPLEADO"});
       }},
      {"SOLUC day that is not a number",
       [](const Scene& s) {
         RewriteTable(s.Table("SOLUC.DBF"), "SOLUC", [](const DbfTable& t) { return WithValue(t, "DIA", "LU"); });
         return ImportWith({"La tabla SOLUC, campo DIA, registro 1: «LU» no es un número"});
       }},
      {"control character in a working table",
       [](const Scene& s) {
         RewriteTable(s.Table("PROFT.DBF"), "PROFT", [](const DbfTable& t) { return WithValue(t, "X_EMPLEADO", "70\x01" "01"); });
         return ImportWith({"La tabla PROFT, registro 1, campo X_EMPLEADO", "0x01"});
       }},
      {"chosen document that is not XML",
       [](const Scene& s) {
         WriteFile(s.chosen, "PK\x03\x04 una hoja de cálculo");
         Input in = ImportWith({"El archivo «" + s.chosen + "» no es un documento XML válido"});
         return in;
       }},
      {"SOLUC held by another process",
       [](const Scene& s) {
         Input in = ImportWith({"SOLUC", s.Table("SOLUC.DBF"), "en uso por otro programa"});
         in.setting = Setting::kHeldByAnotherProcess;
         in.target = s.Table("SOLUC.DBF");
         return in;
       }},
      {"working table held by another process, at import",
       [](const Scene& s) {
         Input in = ImportWith({"PROFT", s.Table("PROFT.DBF"), "en uso por otro programa"});
         in.setting = Setting::kHeldByAnotherProcess;
         in.target = s.Table("PROFT.DBF");
         return in;
       }},
      {"read-only output folder",
       [](const Scene& s) {
         Input in = ImportWith({s.Doc("ResultadoVelmarsauce-export.xml")});
         in.setting = Setting::kReadOnlyFolder;
         in.target = s.docs;
         return in;
       }},
      {"full disk under the output folder",
       [](const Scene& s) {
         Input in = ImportWith({"No queda espacio en el disco", s.Doc("ResultadoVelmarsauce-export.xml")});
         in.setting = Setting::kFullDisk;
         in.target = s.docs;
         return in;
       }},
  };
  return cases;
}

bool IsUtf8(const std::string& text) { return xmlCheckUTF8(reinterpret_cast<const xmlChar*>(text.c_str())) != 0; }

// Generous bounds: an unbounded expansion would take minutes and gigabytes.
constexpr double kMaxSeconds = 30;
constexpr long kMaxGrowthKb = 512 * 1024;

TEST(BadInputTest, EveryCaseGivesAClearMessageAndChangesNothing) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Scene s;
    fs::create_directories(s.vtemp);
    fs::create_directories(s.docs);
    WriteFile(s.chosen, ReadBytes(kExample));
    BothFrames chooser;
    ExportRun(s.chosen, s.vtemp, chooser);  // the working set every case starts from
    WriteFile(s.Table("SOLUC.DBF"), ReadBytes(kExampleSoluc));

    const Input in = c.prepare(s);
    const auto before = Snapshot(s.root.path());
    std::unique_ptr<LockHolder> holder;
    if (in.setting == Setting::kHeldByAnotherProcess) {
      holder = std::make_unique<LockHolder>(in.target);
      ASSERT_TRUE(holder->locked()) << "the other process could not lock " << in.target;
    }
    const bool by_permissions = in.setting == Setting::kReadOnlyFolder && geteuid() != 0;
    if (by_permissions) chmod(in.target.c_str(), 0555);
    std::unique_ptr<OpenWatch> watch;
    if (!in.secret.empty()) {
      watch = std::make_unique<OpenWatch>(in.secret);
      ASSERT_TRUE(watch->Working());
    }

    const Outcome out = RunInChild(in.setting, in.target, [&] {
      BothFrames chooser;
      if (in.run == RunKind::kExport) ExportRun(in.xml, s.vtemp, chooser);
      else ImportRun(s.chosen, s.vtemp);
    });

    if (by_permissions) chmod(in.target.c_str(), 0755);
    holder.reset();
    EXPECT_EQ(out.kind, 'E') << out.message;
    for (const std::string& piece : in.message)
      EXPECT_NE(out.message.find(piece), std::string::npos) << "«" << piece << "» not in: " << out.message;
    EXPECT_TRUE(IsUtf8(out.message)) << out.message;
    EXPECT_EQ(out.message.find("CLAVE-SECRETA"), std::string::npos) << out.message;
    if (watch) EXPECT_FALSE(watch->Opened()) << in.secret << " was opened";
    EXPECT_TRUE(Snapshot(s.root.path()) == before) << "the folders changed";
    EXPECT_TRUE(out.inside_unchanged) << "the full disk's folder changed";
    EXPECT_LT(out.seconds, kMaxSeconds);
    EXPECT_LT(out.rss_growth_kb, kMaxGrowthKb);
    if (in.setting == Setting::kReadOnlyFolder || in.setting == Setting::kFullDisk) {
      // How the child made the folder unwritable: "permisos" (not root),
      // "montaje" or "tmpfs" (a private mount), or "simulado" (the write
      // fault seam, when root may not mount).
      EXPECT_NE(out.mechanism, "-");
      std::printf("[   INFO   ] %s: %s\n", c.name, out.mechanism.c_str());
    }
  }
}

}  // namespace
}  // namespace tvs
