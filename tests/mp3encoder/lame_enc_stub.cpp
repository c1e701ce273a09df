// A module named like the encoder that lacks most of its exports.
extern "C" __attribute__((visibility("default"))) unsigned long BeInitStream(void*, void*, void*,
                                                                             void*) {
    return 1;
}
