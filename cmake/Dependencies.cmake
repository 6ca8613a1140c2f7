# Every dependency is a Debian package installed by scripts/setup.sh.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gobject-2.0 gthread-2.0)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
# The programme guide's streaming XML reader.
pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)
pkg_check_modules(SIGCPP REQUIRED IMPORTED_TARGET sigc++-2.0)
find_package(Poco REQUIRED COMPONENTS Foundation Net NetSSL Crypto Util)
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED)

if(LUMIVEX_GUI)
  pkg_check_modules(CLUTTER REQUIRED IMPORTED_TARGET clutter-1.0 clutter-x11-1.0 cogl-1.0)
  pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
  # The screen stays awake: the session bus (GDBus) and the X server's
  # screen saver extension.
  pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
  pkg_check_modules(XSS REQUIRED IMPORTED_TARGET xscrnsaver)
  pkg_check_modules(GST REQUIRED IMPORTED_TARGET gstreamer-1.0 gstreamer-app-1.0 gstreamer-video-1.0 gstreamer-audio-1.0
    gstreamer-pbutils-1.0)
  # The stream-kind tests serve RTSP from the test process.
  pkg_check_modules(GST_RTSP_SERVER REQUIRED IMPORTED_TARGET gstreamer-rtsp-server-1.0)
endif()

if(LUMIVEX_TESTS)
  find_package(GTest REQUIRED)
endif()
