#include "check/CheckArguments.h"

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

}  // namespace

std::optional<CheckOptions> ParseArguments(int argc, const char* const* argv) {
    CheckOptions options;
    bool positionGiven = false;
    bool nameGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        bool accepted = false;
        if (argument == "--help") {
            accepted = SetOnce(&options.help);
        } else if (argument == "--version") {
            accepted = SetOnce(&options.version);
        } else if (argument == "--test") {
            accepted = SetOnce(&options.test);
        } else if (argument == "--json") {
            accepted = SetOnce(&options.json);
        } else if (argument == "--quiet") {
            accepted = SetOnce(&options.quiet);
        } else if (argument == "--reader") {
            accepted = i + 1 < argc && argv[i + 1][0] != '\0' && SetOnce(&nameGiven);
            if (accepted) {
                options.readerName = argv[++i];
            }
        } else if (!argument.empty() && argument[0] != '-') {
            accepted = SetOnce(&positionGiven) && ParsePosition(argument, &options.readerIndex);
        }
        if (!accepted) {
            return std::nullopt;
        }
    }
    if ((positionGiven && nameGiven) || (options.json && options.quiet)) {
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
