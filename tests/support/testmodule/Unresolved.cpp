// A shared object that needs a symbol no library defines: loading it with RTLD_NOW fails
// with "undefined symbol", the case of a module whose dependencies lack an entry point.
extern "C" void lumidor_symbol_that_nobody_defines();

extern "C" __attribute__((visibility("default"))) void lumidor_unresolved_entry() {
    lumidor_symbol_that_nobody_defines();
}
