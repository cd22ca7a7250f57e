# Every library the project links, found once for all targets.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(simdjson 3 REQUIRED)
find_package(ICU 72 REQUIRED COMPONENTS uc i18n)
find_package(CURL REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswresample libavfilter)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

if(NOT NUVEL_CORE_ONLY)
  pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
  pkg_check_modules(SECRET REQUIRED IMPORTED_TARGET libsecret-1)
  pkg_check_modules(ECAL REQUIRED IMPORTED_TARGET libecal-2.0)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Network DBus)
endif()

# The updater's archive reader; the fuzz targets read archives too.
if(NOT NUVEL_CORE_ONLY OR NUVEL_BUILD_FUZZ)
  pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
endif()

if(NUVEL_BUILD_TESTS)
  find_package(GTest REQUIRED)
  if(NOT NUVEL_CORE_ONLY)
    # The tests of the real program drive it over the accessibility bus.
    pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2 gobject-2.0)
    # ...and type on its X server through the server's test extension.
    pkg_check_modules(XTST REQUIRED IMPORTED_TARGET xtst x11)
  endif()
endif()
if(NUVEL_BUILD_BENCH)
  find_package(benchmark REQUIRED)
  pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
  # The recording benchmark types on its X server as the tests do.
  if(NOT TARGET PkgConfig::XTST)
    pkg_check_modules(XTST REQUIRED IMPORTED_TARGET xtst x11)
  endif()
endif()
