// Names of the debug files (debug_file.h), the purge of old dated files,
// and making sure a file and its folders exist.
//
// A path is a path of this system: folders joined with '/', file-name
// patterns matched with fnmatch(3) ('?' one character, '*' any run; every
// other character of a pattern, the parts taken from the settings included,
// stands for itself). Names are at most kMaxLogPathChars characters; wide
// paths reach the file system in the ANSI code page.
//
// Style 0 (namingStyle 0), from debugFilePath: the extension is the text
// from the last '.' of the file's own name (none when that has no '.'); the
// additions go before it, in this order:
//   instanceNumber not 0  "-%03d", and a further "-" with dailyFiles
//   dailyFiles            "%04d%02d%02d" (the date)
//   a new file            "_%03d": one above the largest number found in
//                         the names so far plus "_???" and the extension
//                         (0 when none is found)
// so /var/log/agent/trace.txt gives /var/log/agent/trace20240131.txt,
// /var/log/agent/trace-002-20240131_004.txt or /var/log/agent/trace_000.txt.
//
// Style 1 (namingStyle 1), composed (HOST is the computer's host name in
// upper case, NN the instance number, SSSS the sequence):
//   dailyFiles, perDayFolders  <logFolder>/YYYYMMDD/<filePrefix>HOST_<logName>_NN_YYYYMMDD_SSSS.txt
//   dailyFiles                 <logFolder>/<filePrefix>HOST_<logName>_NN_YYYYMMDD_SSSS.txt
//   perDayFolders              <logFolder>/YYYYMMDD/<filePrefix>HOST_<logName>_NN_SSSS.txt
//   neither                    <logFolder>/<filePrefix>HOST_<logName>_NN_SSSS.txt
// The sequence is the largest one found among the same names with any
// prefix (FindLastSequence), continued; 1 when there is none; one above it
// for a new file.
//
// A new file is one asked for with newFileOnWrap, or forced by the caller.
// With dailyFiles and DebugLogMaxDailyFileAge above 0 the purge runs before
// the name is built: every matching file last written before local midnight
// of `today` minus that many days is deleted; a matching name has digits
// where the date and the sequence go. The purge deletes only regular
// files that are entries of the log folder (or of a per-day folder in it,
// which it then removes when empty); it follows no symbolic link and never
// leaves the folder.
//
// Called on the logger's thread only; the functions touch nothing but the
// file system.
#pragma once

#include <string>

#include "diagnostics/debug_logger.h"
#include "platform/win32/time.h"

inline constexpr std::size_t kMaxLogPathChars = 256;

// The computer's host name in upper case (at most 127 characters).
std::wstring LogHostName();

// The name of the debug file for `today`, after the purge; "" (errno
// ENAMETOOLONG) when it would be longer than kMaxLogPathChars.
std::wstring BuildLogFileName(const DebugLogSettings& settings, const SYSTEMTIME& today,
                              bool newFile);

// Style 1: the largest sequence among the files of `today`'s names, 0 when
// there is none.
int FindLastSequence(const DebugLogSettings& settings, const SYSTEMTIME& today,
                     const std::wstring& host);

// Style 1: the purge of the composed daily files (see above).
void PurgeComposedFiles(const DebugLogSettings& settings, const SYSTEMTIME& today,
                        const std::wstring& host);

// Creates every missing folder of `path` and the file itself when it does
// not exist. 0, or -1 with errno on any failure.
int EnsureFileExists(const wchar_t* path);
