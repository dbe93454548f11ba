// Host framework classes the plug-in calls by name. Their implementation is
// the host runtime library, which forwards every call to the process-wide
// host environment, so tests can put a fake behind all of them at once.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#define PZ_PRINTF(fmt_index, first_arg) \
  __attribute__((format(printf, fmt_index, first_arg)))

// Error holder of host calls: a code and a text, never an exception.
class CWvError {
 public:
  void set(int code, const std::string& text) {
    code_ = code;
    text_ = text;
  }
  void clear() {
    code_ = 0;
    text_.clear();
  }
  bool isSet() const { return code_ != 0 || !text_.empty(); }
  int code() const { return code_; }
  const std::string& text() const { return text_; }

 private:
  int code_ = 0;
  std::string text_;
};

// Runs one program and waits for it. The command line is split into
// arguments by the host (double quotes group a word); nothing goes through a
// shell. Returns the exit code, or -1 when the program could not be started.
class PzProcess {
 public:
  PzProcess();
  ~PzProcess();
  int system(const std::string& commandLine, std::string* output,
             std::string* error, int flags, bool background);
  // Same, feeding `input` on standard input (null: none) and with an explicit
  // time limit in milliseconds (<= 0: the configured command time limit).
  int run(const std::string& commandLine, const std::string* input,
          std::string* output, std::string* error, long long timeoutMs);
  // True when the last run was killed at its time limit.
  bool killedAtLimit() const { return killed_; }

 private:
  bool killed_ = false;
};

// Host debug log. Levels: -1 error, 0..4 increasing detail.
class EvDebug {
 public:
  explicit EvDebug(const char* module);
  void DebugLvl(int level, const char* function, const char* format, ...)
      PZ_PRINTF(4, 5);
  void Debug(const char* function, const char* format, ...) PZ_PRINTF(3, 4);
  void Error(const char* function, const char* format, ...) PZ_PRINTF(3, 4);
  void EvEvent(int severity, const char* format, ...) PZ_PRINTF(3, 4);
  const std::string& module() const { return module_; }

 private:
  std::string module_;
};

// Machine-wide settings and platform facts.
class PZPlatformInfo {
 public:
  static bool getRegInt(const char* section, const char* name, int* value);
  static bool getString(const char* section, const char* name,
                        std::string* value);
  // Section of the additional settings: "~" + base, plus "/" + instance.
  static std::string getSectionName(const char* base, const char* instance);
  static bool getDirectory(const char* name, std::string* directory);
  static unsigned int getPZPlatformType();
  // Client name known to the central management server; false if none.
  static bool getCSClientName(char* buffer, int size);
  static std::string getPhysicalMachine();
};

class PZPI_Base {
 public:
  // Empty when the host has no usable temporary directory.
  static std::string getNebulonTempDirectory();
};

// Host file class. Flags and mode are POSIX open(2) values.
class CWvFile {
 public:
  CWvFile();
  ~CWvFile();
  CWvFile(const CWvFile&) = delete;
  CWvFile& operator=(const CWvFile&) = delete;
  bool open(const std::string& path, int flags, int mode, CWvError* error);
  bool write(const void* data, size_t size, CWvError* error);
  bool close(CWvError* error);
  static bool remove(const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class CWvString {
 public:
  // Splits `text` at `separator`; text between the quote characters is one
  // token (quotes dropped), `escape` takes the next character literally.
  static bool Tokenize(const std::string& text, char openQuote,
                       char closeQuote, char escape, char separator,
                       std::vector<std::string>& tokens);
  // Positional format: "{1}" is the first argument, "{2}" the second, ...
  static std::string Format(const std::string& pattern,
                            std::initializer_list<std::string> args);
};

// Split flag: drop empty pieces.
constexpr int FXSPLIT_SKIP_EMPTY = 1;

class FXString {
 public:
  static std::string Format(const char* format, ...) PZ_PRINTF(1, 2);
  // The same over a va_list, for the host's and the engine's own printf-style
  // functions (which carry the format attribute themselves).
  static std::string FormatV(const char* format, va_list args)
      __attribute__((format(printf, 1, 0)));
  static void Split(const std::string& text, const std::string& separator,
                    int flags, std::vector<std::string>& pieces);
  static std::string Trim(const std::string& text, const std::string& set);
};

// Global log writer of the host.
class CLogWriterInterface {
 public:
  virtual ~CLogWriterInterface() = default;
  virtual int getLevel() const = 0;
  virtual void write(int level, const char* function, int line,
                     const char* format, ...) PZ_PRINTF(5, 6) = 0;
};
extern std::shared_ptr<CLogWriterInterface> g_ptrLogWriter;

// Splits the host's VPLEX backend metadata into array serial and device WWN.
bool ParseVPLEXBackendMetadata(const std::string& value, std::string& serial,
                               std::string& wwn);
