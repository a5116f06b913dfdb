# Removes what the last install of this build put in place, as its
# install_manifest.txt lists it, then the folders of our own that it left
# empty; shared ones such as share/applications stay. Give the install's
# DESTDIR again, if it had one.
#
#   [DESTDIR=...] cmake -DMANIFEST=BUILD/install_manifest.txt -P cmake/Uninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} is missing (install first)")
endif()
file(STRINGS "${MANIFEST}" files)
set(folders)
foreach(file ${files})
  # The manifest leaves DESTDIR out, as the install's own messages do not.
  set(file "$ENV{DESTDIR}${file}")
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
  endif()
  get_filename_component(folder "${file}" DIRECTORY)
  while(folder MATCHES "/share/(doc/)?tuning-lattice(/.*)?$")
    list(APPEND folders "${folder}")
    get_filename_component(folder "${folder}" DIRECTORY)
  endwhile()
endforeach()
# Deepest first, so that a parent is empty by the time it comes.
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder ${folders})
  # rmdir takes a folder only when it is empty.
  execute_process(COMMAND rmdir "${folder}" ERROR_QUIET)
endforeach()
