// The library's boot data, embedded whole from the file the generator wrote.
asm(".section .rodata.vyx_boot_data,\"a\"\n"
    ".global vyx_boot_data\n"
    ".global vyx_boot_data_end\n"
    ".balign 16\n"
    "vyx_boot_data:\n"
    ".incbin \"" VYX_BOOT_BLOB "\"\n"
    "vyx_boot_data_end:\n"
    ".previous\n");
