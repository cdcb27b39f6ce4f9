#include "app/help.h"

#include "app/version.h"

namespace quarvel {

const char* const help_text =
    "Quarvel duplicates one meter of a layout file for the meter application\n"
    "into a row of copies.\n"
    "\n"
    "Usage: quarvel <in> <out> <meter> <copies> <xshift> <yshift> [<param>...]\n"
    "       quarvel --help | -h | /?    shows this text\n"
    "       quarvel --version           shows the version\n"
    "\n"
    "  <in>      the layout to read\n"
    "  <out>     the layout to write; may be the same file as <in>\n"
    "  <meter>   the Name= value of the meter to copy (the line after its header)\n"
    "  <copies>  how many copies to make (0 or more)\n"
    "  <xshift>  how far each copy moves right from the one before (0 or more)\n"
    "  <yshift>  how far each copy moves down from the one before (0 or more)\n"
    "  <param>   keys whose values carry numbers to advance in each copy\n"
    "Use quotes around any argument that contains spaces.\n"
    "\n"
    "Copy k (1 to <copies>) gets:\n"
    "  - [Meter N] and the meter's [Source N], [Output N] and [InputController N]\n"
    "    numbered as the highest meter number + k;\n"
    "  - its Name= number advanced by k (Name=CPU1 gives CPU2, CPU3, ...);\n"
    "  - Left= and Right= moved by k x <xshift>, Top= and Bottom= by k x <yshift>;\n"
    "  - in the values of the <param> keys, each digit advanced by k on its own\n"
    "    (Core=1 gives Core=2, Drive=12 gives Drive=23, Scale=1.5 gives Scale=2.5).\n"
    "The copies stand after the last meter, before [PluginInfo]; every Width= and\n"
    "Height= line before the meter is worked out again. The old <out> is\n"
    "replaced only when the new one is complete; if anything fails, it stays as\n"
    "it was.\n"
    "\n"
    "Example:\n"
    "  quarvel sample.ini out.ini CPU1 4 40 0 Core Processor Label\n"
    "copies the meter CPU1 of sample.ini four times, each 40 further right, as\n"
    "CPU2 to CPU5, advances the numbers of their Core=, Processor= and Label=\n"
    "values and writes out.ini.\n"
    "\n"
    "To try a run first, give NUL (Windows) or /dev/null as <out>: everything\n"
    "runs, warnings included, and nothing is written.\n"
    "\n"
    "Exit status: 0 when the output was written (and for this help), 1 after any\n"
    "error, which is reported on one line starting with \"ERROR: \".\n"
    "Standard error adds hints and warnings: the meter that looks meant, keys that\n"
    "do nothing, copies past Width or Height, names already used.\n"
    "\n"
    "More in the README: README.txt beside quarvel.exe, README.md with the\n"
    "sources; on Linux also \"man quarvel\", which names where README.md and\n"
    "sample.ini were installed.\n";

const char* const first_contact_text =
    "Quarvel is a command-line tool: it works in a Command Prompt, with its\n"
    "arguments typed after its name. To open a Command Prompt in this folder,\n"
    "click the address bar of this folder's File Explorer window, type cmd and\n"
    "press Enter. Then try:\n"
    "  quarvel sample.ini out.ini CPU1 4 40 0 Core Processor Label\n"
    "\n";

std::optional<int> answer_help_or_version(const std::vector<std::string>& args, std::ostream& console) {
    if (args.size() != 1) return std::nullopt;
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "/?") {
        console << help_text;
        return 0;
    }
    if (args[0] == "--version") {
        console << "quarvel " QUARVEL_VERSION "\n";
        return 0;
    }
    return std::nullopt;
}

}  // namespace quarvel
