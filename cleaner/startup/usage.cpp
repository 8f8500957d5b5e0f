#include "cleaner/startup/usage.h"

#ifndef SORVEL_VERSION
#error "SORVEL_VERSION must give the program's version"
#endif

namespace cleaner {

Request RequestOf(std::string_view commandLine) {
    if (commandLine.empty()) return Request::Window;
    const auto first = commandLine.find_first_not_of(" \t");
    const auto last = commandLine.find_last_not_of(" \t");
    const std::string_view word = first == std::string_view::npos
                                      ? std::string_view()
                                      : commandLine.substr(first, last - first + 1);
    if (word == "--help" || word == "-h" || word == "/?") return Request::Usage;
    if (word == "--version") return Request::Version;
    const std::string_view mode = word.substr(0, word.find_first_of(" \t"));
    if (mode == "--preview" || mode == "--clean" || mode == "--restore") return Request::Unattended;
    // No name the suite's uninstaller passes begins so: someone tried an option, and a mistyped
    // option must not delete the suite's keys.
    if (word.substr(0, 2) == "--") return Request::UnknownOption;
    return Request::SuiteRemoval;
}

std::vector<std::string> CommandLineWords(std::string_view commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (c == '\\') {
            std::size_t slashes = 0;
            while (i < commandLine.size() && commandLine[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < commandLine.size() && commandLine[i] == '"') {
                word.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    word.push_back('"');
                } else {
                    quoted = !quoted;
                }
            } else {
                word.append(slashes, '\\');
                --i;
            }
            inWord = true;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

std::string UsageText() {
    return "Usage: sorvel\n"
           "       sorvel TEXT\n"
           "       sorvel --preview [--keywords FILE] [--settings] [--no-keys] [--json]\n"
           "       sorvel --clean [--keywords FILE] [--backup FILE] [--settings] [--no-keys]\n"
           "                      [--json]\n"
           "       sorvel --restore FILE [--json]\n"
           "       sorvel --help | -h | /? | --version\n"
           "\n"
           "sorvel removes what the Tarvo business suite left in the registry.\n"
           "\n"
           "Without arguments it opens its window. Remove... reads keywords from the Key File\n"
           "(one a line; taRegKeywords.txt in the current folder unless the window names\n"
           "another) and finds the class, interface and type-library registrations that\n"
           "mention any of them; after asking, it removes them, and with \"Remove Settings\"\n"
           "ticked also the suite's settings. Before a key is removed, its whole tree is\n"
           "written to the backup file, the Reg File (taDeletedRegKeys.reg in the current\n"
           "folder unless the window names another). Importing it brings each key back\n"
           "where it was, in either registry node:\n"
           "    WINEPREFIX=<prefix> wine reg import taDeletedRegKeys.reg /reg:64\n"
           "(on Windows: reg import taDeletedRegKeys.reg /reg:64).\n"
           "\n"
           "With any other command-line text it shows no window and, without a backup,\n"
           "removes Software\\Tarvo\\TEXT, Software\\Zelk\\TEXT and Software\\Zelk Company in\n"
           "HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE, and the suite's uninstall entries. The\n"
           "suite's uninstaller starts it so.\n"
           "\n"
           "On Linux it works on the registry of the Wine prefix that WINEPREFIX names, or of\n"
           "~/.wine when WINEPREFIX is unset; no Windows program may run in that prefix\n"
           "meanwhile. On Windows it works on the registry itself.\n"
           "\n"
           "  --preview        run the searches of Remove... and list each key it would\n"
           "                   remove, in its order, with the keys in its tree, and each tree\n"
           "                   it would keep, with why; delete nothing and write no file\n"
           "  --clean          run Remove... with OK given to its questions, without a window\n"
           "                   or a box; status lines and reports go to standard error\n"
           "  --restore FILE   put back the keys and values of a REGEDIT4 backup, in both\n"
           "                   nodes, without Wine, and read them all back; a file that\n"
           "                   deletes anything is refused\n"
           "  --keywords FILE  the Key File (default taRegKeywords.txt)\n"
           "  --backup FILE    the Reg File of --clean (default taDeletedRegKeys.reg); it may\n"
           "                   not be empty: --clean never deletes without a backup\n"
           "  --settings       also the settings keys, as \"Remove Settings\" ticked\n"
           "  --no-keys        not the searched keys, as \"Remove Keys\" unticked\n"
           "  --json           one JSON document on standard output instead of the key lines\n"
           "  --help, -h, /?   show this text and end\n"
           "  --version        show the version and end\n"
           "\n"
           "--preview, --clean and --restore end with 0 when done with nothing to report,\n"
           "1 when nothing was done (refused, or a file that could not be read), 2 when done\n"
           "with reports (a kept tree, a key that failed or did not read back). Any other\n"
           "text that begins with -- is refused as an unknown option, and nothing is\n"
           "deleted.\n";
}

std::string VersionText() { return "sorvel " SORVEL_VERSION "\n"; }

}  // namespace cleaner
