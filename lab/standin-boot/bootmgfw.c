/* Stand-in for WinPE's UEFI boot manager (\Windows\Boot\EFI\bootmgfw.efi): prints one line on the
   console, which OVMF copies to the serial port, then halts. Only the few UEFI fields it uses. */
typedef unsigned short char16;
struct text_output {
    void *reset;
    unsigned long long (*output_string)(struct text_output *self, const char16 *text);
};
struct system_table {
    char header[24];
    void *firmware_vendor;
    unsigned int firmware_revision;
    void *console_in_handle, *console_in, *console_out_handle;
    struct text_output *console_out;
};

unsigned long long efi_main(void *image, struct system_table *system) {
    (void)image;
    system->console_out->output_string(system->console_out, u"autodeploy stand-in bootmgfw.efi started\r\n");
    for (;;) __asm__ volatile("cli; hlt");
}
