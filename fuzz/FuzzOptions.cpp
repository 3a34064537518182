// Sanitizer defaults built into every fuzz target, so that a target run by
// hand stops on the first report exactly as `make fuzz` does. The integer
// checks of codec/ and container/ are recoverable at compile time only so
// that the reviewed spots of fuzz/ubsan.supp can be let through.
extern "C" const char* __ubsan_default_options() {
    return "halt_on_error=1:print_stacktrace=1:report_error_type=1:suppressions=" KEO_UBSAN_SUPP;
}
