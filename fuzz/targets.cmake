# The fuzz targets, one source file each in fuzz/targets/. Both the fuzz
# build (fuzz/) and the replay tests (tests/fuzz/) build from this list.
set(KFU_FUZZ_TARGETS
    fuzz_int_text
    fuzz_hex
    fuzz_documents
    fuzz_replies
    fuzz_firmware_write
    fuzz_script
    fuzz_dump
    fuzz_trace
    fuzz_clear_eeprom
    fuzz_autoflash
    fuzz_csv
)
# Everything a target may reach; the linker takes what each one uses.
set(KFU_FUZZ_LIBS kfu_dump kfu_script kfu_bootloader kfu_firmware kfu_motor kfu_serial_memory
    kfu_serial kfu_common)
