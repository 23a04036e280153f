# Run first by `cmake --install`: notes which of the directories the install
# writes into do not exist yet, in QV_DIRS_FILE, so that cmake/uninstall.cmake
# removes those again, and only those. Takes QV_INSTALL_DIRS (relative to the
# prefix, or absolute) and QV_DIRS_FILE.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(created "")
if(EXISTS "${QV_DIRS_FILE}")
  # An install over an earlier one keeps what the earlier one created.
  file(STRINGS "${QV_DIRS_FILE}" created)
endif()
foreach(dir IN LISTS QV_INSTALL_DIRS)
  if(IS_ABSOLUTE "${dir}")
    set(path "$ENV{DESTDIR}${dir}")
  else()
    set(path "${root}/${dir}")
  endif()
  while(NOT EXISTS "${path}")
    list(APPEND created "${path}")
    get_filename_component(path "${path}" DIRECTORY)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES created)
list(JOIN created "\n" text)
file(WRITE "${QV_DIRS_FILE}" "${text}\n")
