# The fuzz targets and the library each one exercises.
set(LUMIVEX_FUZZ_TARGETS xhscanner utf8 userfiles m3u xmltv)
set(LUMIVEX_FUZZ_LIBS_xhscanner kestrel)
set(LUMIVEX_FUZZ_LIBS_utf8 kestrel)
set(LUMIVEX_FUZZ_LIBS_userfiles state)
set(LUMIVEX_FUZZ_LIBS_m3u catalogue)
set(LUMIVEX_FUZZ_LIBS_xmltv guide)
