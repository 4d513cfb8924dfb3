# Run by `cmake --install` after every other install rule: records the
# files just installed under their destination, in a manifest of its own.
# CMake's install_manifest.txt is rewritten by every install, CPack's and
# the tests' included, so it cannot tell what an install to a prefix put
# there; this one can. CPack's own installs, into its staging folder, are
# not recorded.
set(zeb_destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
cmake_path(ABSOLUTE_PATH zeb_destination NORMALIZE)
if(NOT zeb_destination MATCHES "/_CPack_Packages/")
  string(SHA1 zeb_key "${zeb_destination}")
  set(zeb_manifest "${ZEB_MANIFESTS}/${zeb_key}.txt")
  set(zeb_files ${CMAKE_INSTALL_MANIFEST_FILES})
  # A second install to the same place adds to what the first put there.
  if(EXISTS "${zeb_manifest}")
    file(STRINGS "${zeb_manifest}" zeb_earlier)
    list(APPEND zeb_files ${zeb_earlier})
  endif()
  list(REMOVE_DUPLICATES zeb_files)
  list(SORT zeb_files)
  list(JOIN zeb_files "\n" zeb_text)
  file(WRITE "${zeb_manifest}" "${zeb_text}\n")
endif()
