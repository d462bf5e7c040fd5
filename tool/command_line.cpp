#include "tool/command_line.h"

#include <cctype>
#include <cstring>

#include "tool/console.h"

namespace {

// The usage text after its first line, in the order printed.
constexpr const char* kUsageLines[] = {
    "      -d  [<filename>] [-p <MAPI profilename>]:Dumps the Handheld info for\n",
    "          each pager on a specified VEX (the prompt for a Quorrel Server\n",
    "          name will appear).  The optional arguments: <filename> and \n",
    "          [-p <MAPI profilename>] are defined as followed:\n",
    "          <filename> is a filename to dump Handheld info to. If it is not\n",
    "          specified the info will be dumped to the screen.\n",
    "          -p is a flag to signify profile and <MAPI profilename> is an\n",
    "          existing MAPI profile name.\n\n",
    "      -u  [-p <MAPI profilename>]:Perform Handheld Mailbox check and update.\n",
    "          Checks for any mailboxes that have been moved or key information has\n",
    "          changed. If the mailbox is moved, then the ServerDN is set to the\n",
    "          Global Address Lists ServerDN. Any Pagers with ServerDN or SMTP\n",
    "          address changed will be printed. Otherwise no output given.\n",
    "          NOTE: Global Address List does not contain hidden mailboxes\n",
    "          The optional arguments: -p is a flag to signify profile command\n",
    "          and <MAPI profilename> is an existing MAPI profile name.\n\n",
    "      -c \"DB Connect String\"\n",
    "          The ODBC connect string for the Database, should be surrounded by\n",
    "          double-quotes. If not provided, the connect string will be retrieved\n",
    "          from the registry.\n\n",
    "      -h\n",
    "      -? :This help screen\n\n",
    "\nOptions now obsolete are listed below:\n",
    "      -a  [<filename>] [-p <MAPI profilename>]:Dump the information of all\n",
    "          existing Quorrel Servers.\n",
    "          The optional arguments: <filename> and [-p <MAPI profilename>] are\n",
    "          defined as followed: \n",
    "          <filename> is a filename to dump Handheld info to. If it is not\n",
    "          specified the info will be dumped to the screen.\n",
    "          -p is a flag to signify profile and <MAPI profilename> is an\n",
    "          existing MAPI profile name.\n\n",
    "      -m  [-p <MAPI profilename>]:Detects an Admin Mailbox move for any of the\n",
    "          existing Quorrel Servers and updates the corresponding information\n",
    "          when necessary. \n",
    "          The optional arguments: -p is a flag to signify profile command and \n",
    "          <MAPI profilename> is an existing MAPI profile name.\n\n",
    "      -i <filename> [-p <MAPI profilename>]:Imports the Quorrel Servers\n",
    "          listed in the specified import file\n",
    "          NOTE: The format of the import file should be a tab-delimited list\n",
    "          of the following fields: <VEX name>, <Admin mailbox display name>,\n",
    "          <ServerDN>, and <Admin MailboxDN>\n",
    "          The optional arguments: <filename> and [-p <MAPI profilename>] are\n",
    "          defined as followed: <filename> is a filename to dump Handheld info\n",
    "          to. If it is not specified the info will be dumped to the screen.\n",
    "          -p is a flag to signify profile and <MAPI profilename> is an existing\n",
    "          MAPI profile name.\n\n",
    "      -r  revert back to a SUBTREE search for Exch 5.5 sites.\n\n",
    "      -f  force to Exchange 5.5 directory search\n\n",
    "      -l port : LDAP port - default is 389\n\n",
};

bool IsOption(const char* argument) { return argument[0] == '-' || argument[0] == '/'; }

// After -d: whether `argument` names the dump file rather than an option.
bool IsDumpFileName(const char* argument) {
  if (argument[0] == '-') return false;
  return argument[0] != '/' || std::strlen(argument) != 2;
}

}  // namespace

void PrintUsage(const char* programName, std::FILE* out) {
  Print(out, "\nUsage: %s -<flag>\n", programName != nullptr ? programName : "");
  for (const char* line : kUsageLines) Print(out, "%s", line);
}

bool ParseCommandLine(int argc, char** argv, RunSettings* settings, std::FILE* out) {
  const char* program = argc > 0 ? argv[0] : "";
  const auto refuse = [&] {
    PrintUsage(program, out);
    return false;
  };
  if (argc < 2) return refuse();
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!IsOption(argument) || argument[1] == '\0') return refuse();
    switch (std::tolower(static_cast<unsigned char>(argument[1]))) {
      case 'c':
        if (i + 1 >= argc) return refuse();
        ++i;
        {
          // Cut, the string would name another database or password.
          const std::size_t length = std::strlen(argv[i]);
          if (length >= RunSettings::kConnectionStringBytes) return refuse();
          std::memcpy(settings->connectionString, argv[i], length + 1);
        }
        settings->connectionStringGiven = true;
        break;
      case 'd':
        settings->dump = true;
        if (i + 1 < argc && IsDumpFileName(argv[i + 1])) settings->dumpFileName = argv[++i];
        break;
      case 'p':
        if (i + 1 >= argc) return refuse();
        settings->profileName = argv[++i];
        break;
      case 'u':
        settings->update = true;
        break;
      default:
        return refuse();
    }
  }
  return true;
}
