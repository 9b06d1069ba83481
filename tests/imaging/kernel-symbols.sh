#!/bin/sh
# Fails when an object compiled for an instruction set (*Avx2, *Avx512, *Ssse3) defines a weak function: the
# linker keeps one copy of such a function for every caller, and the plain code could then run instructions
# the processor lacks. Arguments: the object files of the core library.
kernels=0
status=0
for object in "$@"; do
    case "$object" in
    *Avx2.cpp.o | *Avx512.cpp.o | *Ssse3.cpp.o) ;;
    *) continue ;;
    esac
    kernels=$((kernels + 1))
    weak=$(nm -C --defined-only "$object" | awk '$2 == "W" { $1 = ""; $2 = ""; print }')
    if [ -n "$weak" ]; then
        echo "$object defines functions the plain code may share:$weak"
        status=1
    fi
done
if [ "$kernels" -eq 0 ]; then
    echo "no kernel objects among the arguments"
    exit 1
fi
echo "$kernels kernel objects define no shared function"
exit $status
