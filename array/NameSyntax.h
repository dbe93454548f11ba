// The syntax of every name the command layer puts on a SYMCLI command line
// or into a device file. Our runner splits a line at blanks and groups words
// in double quotes, so a name holding a blank, a quote or a line break would
// become several arguments or smuggle an option; the checks below accept only
// what the Solutions Enabler tools accept themselves, so nothing else is ever
// handed to them.
#pragma once

#include <list>
#include <string>

#include "host/SnapInfo.h"
#include "common/VMAXParams.h"

namespace namesyntax {

enum class NameKind {
  kArraySerial,
  kStorageGroup,
  kMaskingView,
  kSnapshotName,
  kInitiator,
  kDeviceNumber,
  kDeviceFile,
  kToolDirectory,
};

// The kind as log lines name it ("storage group name").
const char* KindText(NameKind kind);

// Letters and digits, 1 to 32.
bool IsArraySerial(const std::string& value);
// Storage groups and masking views: letters, digits and "_ - . :", 1 to 64,
// not starting with "-" (it would read as an option).
bool IsGroupName(const std::string& value);
// SnapVX snapshot names: letters, digits, "_" and "-", 1 to 32, not
// starting with "-".
bool IsSnapshotName(const std::string& value);
// Fibre Channel WWPN (16 hex digits, bare or as 8 colon-separated pairs) or
// an iSCSI name (iqn.YYYY-MM..., eui.<16 hex>, naa.<16 or 32 hex>).
bool IsInitiatorName(const std::string& value);
// 1 to 5 hex digits (StdDevName gives five).
bool IsDeviceNumber(const std::string& value);
// A file directly or deeper inside `tempDir`: printable, no blank, no quote,
// no backslash, no ".." step.
bool IsDeviceFilePath(const std::string& path, const std::string& tempDir);
// The SYMCLI home stands inside double quotes: blanks are fine, a quote, a
// backslash or a control character is not.
bool IsToolDirectory(const std::string& value);

// Dispatches on `kind`; device files are checked against the host's
// temporary directory.
bool IsValid(NameKind kind, const std::string& value);

// `value` fit for one log line: control characters, quotes and backslashes
// escaped as \xNN, cut after a bounded length.
std::string Printable(const std::string& value);

}  // namespace namesyntax

// Logs level 2 "Invalid <kind> [<value>], command not run" on `si` and
// returns false when `value` is outside the syntax of `kind`.
bool CheckName(PZSO::SnapInfo* si, const char* function,
               namesyntax::NameKind kind, const std::string& value);
// Every name of `values`; false at the first bad one.
bool CheckNames(PZSO::SnapInfo* si, const char* function,
                namesyntax::NameKind kind,
                const std::list<std::string>& values);
// The serial, the first parameter's snapshot name and every source device
// of `list` (and every target device when `withTargets`).
bool CheckSnapList(PZSO::SnapInfo* si, const char* function,
                   const VMAXSnapParamList& list, bool withTargets);
