/* Stand-in for WinPE's BIOS boot manager (\Windows\Boot\PXE\bootmgr.exe): wimboot loads it at its
   image base and calls its entry in 32-bit protected mode. It writes one line to QEMU's debug port
   and to COM1, then halts. */
static void out(unsigned short port, unsigned char byte) { __asm__ volatile("outb %0, %1" : : "a"(byte), "Nd"(port)); }

void bootmgr_entry(void *parameters) {
    (void)parameters;
    for (const char *c = "autodeploy stand-in bootmgr.exe started\r\n"; *c; ++c) {
        out(0xE9, (unsigned char)*c);
        out(0x3F8, (unsigned char)*c);
    }
    for (;;) __asm__ volatile("cli; hlt");
}
