# Removes what `cmake --install BUILD_DIR` put in place: every file its
# install_manifest.txt lists, then each directory the install created
# (install_dirs.txt, see install_dirs.cmake) that is left empty.
#
#   cmake -DBUILD_DIR=build -P cmake/uninstall.cmake     (make uninstall)
if(NOT BUILD_DIR)
  set(BUILD_DIR build)
endif()
set(manifest "${BUILD_DIR}/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "${manifest} does not exist: nothing was installed from ${BUILD_DIR}")
endif()
file(STRINGS "${manifest}" files)
foreach(file IN LISTS files)
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
  endif()
endforeach()

set(dirs_file "${BUILD_DIR}/install_dirs.txt")
if(EXISTS "${dirs_file}")
  file(STRINGS "${dirs_file}" dirs)
  # Deepest first: a directory sorts after its parent.
  list(SORT dirs ORDER DESCENDING)
  foreach(dir IN LISTS dirs)
    file(GLOB left LIST_DIRECTORIES true "${dir}/*" "${dir}/.*")
    if(IS_DIRECTORY "${dir}" AND NOT left)
      message(STATUS "Removing ${dir}")
      file(REMOVE_RECURSE "${dir}")
    endif()
  endforeach()
  file(REMOVE "${dirs_file}")
endif()
