# Tests of the manager: the record and user file formats, the Win32 stand-in,
# install/uninstall, the blacklist and quarantine stores, the command line.
find_package(OpenSSL REQUIRED)

if(TARGET tw_common)
  tw_test(manager_formats_test
    SOURCES
      manager/quarantine_format_test.cpp
      manager/userlib_test.cpp
    LIBS tw_common OpenSSL::Crypto lzo2)
endif()
