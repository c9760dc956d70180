#include "check/CheckArguments.h"

#include <getopt.h>

#include <algorithm>
#include <numeric>
#include <string_view>

#include "manager/SmartCardManager.h"

namespace {

// Sets a switch once; a second time is a usage error.
bool SetOnce(bool* option) {
    if (*option) {
        return false;
    }
    *option = true;
    return true;
}

// Plain decimal digits only (no sign, no blank). A position beyond the reader table is a
// position where no reader is, as is any larger number.
bool ParsePosition(std::string_view text, int* readerIndex) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    *readerIndex = std::accumulate(text.begin(), text.end(), 0, [](int value, char digit) {
        return std::min(value * 10 + (digit - '0'), kMaxReaders);
    });
    return true;
}

// getopt_long's code for an argument that is no option: a position.
constexpr int kPosition = 1;
// Above every character code, which getopt_long gives for short options (this program has none).
enum OptionCode { kHelp = 256, kVersion, kTest, kJson, kQuiet, kReader };
constexpr option kOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"test", no_argument, nullptr, kTest},
    {"json", no_argument, nullptr, kJson},
    {"quiet", no_argument, nullptr, kQuiet},
    {"reader", required_argument, nullptr, kReader},
    {nullptr, 0, nullptr, 0},
};

// Sets the option of `code` to `value` (a position's digits, a reader's name) once; false for
// a usage error.
bool SetOption(int code, const char* value, CheckOptions& options) {
    switch (code) {
        case kPosition:
            return options.readerIndex < 0 && ParsePosition(value, &options.readerIndex);
        case kHelp:
            return SetOnce(&options.help);
        case kVersion:
            return SetOnce(&options.version);
        case kTest:
            return SetOnce(&options.test);
        case kJson:
            return SetOnce(&options.json);
        case kQuiet:
            return SetOnce(&options.quiet);
        case kReader:
            if (value[0] == '\0' || !options.readerName.empty()) {
                return false;
            }
            options.readerName = value;
            return true;
        default:  // an unknown option, or --reader without its name
            return false;
    }
}

}  // namespace

std::optional<CheckOptions> ParseArguments(int argc, char* const* argv) {
    CheckOptions options;
    // getopt_long's own messages would come before the program's; 0 starts a new scan.
    opterr = 0;
    optind = 0;
    // The first argument that getopt_long has not handed back.
    int next = 1;
    int code = 0;
    int index = -1;
    // The leading '-' hands back every argument in its place, positions included: nothing is
    // reordered, and options and a position may come in any order.
    while ((code = getopt_long(argc, argv, "-", kOptions, &index)) != -1) {
        if (code >= kHelp) {
            // getopt_long also takes a prefix of an option's name, and --reader=NAME: neither
            // is an option of this program, whose option words are the whole names.
            const bool separateValue = optarg != nullptr && optarg == argv[optind - 1];
            const std::string_view word = argv[optind - (separateValue ? 2 : 1)];
            if (word.substr(2) != kOptions[index].name) {
                return std::nullopt;
            }
        }
        if (!SetOption(code, optarg, options)) {
            return std::nullopt;
        }
        next = optind;
    }
    // getopt_long stops early only at "--", which is no option of this program.
    if (next < argc || (options.readerIndex >= 0 && !options.readerName.empty()) ||
        (options.json && options.quiet)) {
        return std::nullopt;
    }
    return options;
}

const char* UsageText() {
    return "uso: lumidor-check [--test] [--json | --quiet] [--reader NOME | posizione-lettore]\n"
           "     lumidor-check --help | --version\n"
           "\n"
           "Controlla la carta nel lettore indicato (per posizione nell'elenco dei lettori o per\n"
           "nome esatto), altrimenti nel primo lettore con una carta, e ne stampa il rapporto.\n"
           "\n"
           "  --test           dopo un controllo riuscito legge il PIN (una riga dallo standard\n"
           "                   input) ed esegue il test di firma\n"
           "  --reader NOME    il lettore da controllare, per nome esatto\n"
           "  --json           il rapporto come un unico documento JSON\n"
           "  --quiet          solo la riga del risultato\n"
           "  --help           questo testo\n"
           "  --version        la versione del programma e del catalogo incorporato\n"
           "\n"
           "Stato di uscita:\n"
           "  0  controllo (e test) riusciti\n"
           "  1  controllo o test non riusciti\n"
           "  2  errore d'uso, PIN mancante o vuoto, catalogo non utilizzabile\n"
           "  3  nessun lettore (o nessun lettore con il nome o la posizione indicati)\n"
           "  4  nessuna carta nel lettore\n"
           "  128+N  terminato dal segnale N (SIGINT, SIGTERM, SIGHUP, SIGQUIT)\n";
}
