# libpd as built by scripts/setup.sh from Debian's Pure Data source package.
# Provides the imported target Libpd::libpd.
set(_libpd_include "${LIBPD_DIR}/include")
set(_libpd_library "${LIBPD_DIR}/lib/libpd.a")
if(NOT EXISTS "${_libpd_include}/z_libpd.h" OR NOT EXISTS "${_libpd_library}")
  message(FATAL_ERROR
    "libpd not found under ${LIBPD_DIR}. Run scripts/setup.sh (or 'make test'), "
    "or point LIBPD_DIR at a prefix holding include/z_libpd.h and lib/libpd.a.")
endif()
add_library(Libpd::libpd STATIC IMPORTED GLOBAL)
set_target_properties(Libpd::libpd PROPERTIES
  IMPORTED_LOCATION "${_libpd_library}"
  INTERFACE_INCLUDE_DIRECTORIES "${_libpd_include}"
  INTERFACE_COMPILE_DEFINITIONS "PDINSTANCE"
  INTERFACE_LINK_LIBRARIES "Threads::Threads;m;${CMAKE_DL_LIBS}")
