# Runs at install time and writes a program's desktop entry. Exec names the
# program by its full installed path, so that the entry starts it from a
# prefix that is not on PATH, such as ~/.local. DESTDIR, where a package is
# staged, is not part of that path.
#
#   OMBRIX_ENTRY_SOURCE  the entry with @OMBRIX_EXEC@ in it
#   OMBRIX_ENTRY_PATH    where it goes, below the prefix
#   OMBRIX_PROGRAM_PATH  the program, below the prefix
set(OMBRIX_EXEC "${CMAKE_INSTALL_PREFIX}/${OMBRIX_PROGRAM_PATH}")
if(OMBRIX_EXEC MATCHES " ")
    set(OMBRIX_EXEC "\"${OMBRIX_EXEC}\"")
endif()
set(entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${OMBRIX_ENTRY_PATH}")
message(STATUS "Installing: ${entry}")
configure_file("${OMBRIX_ENTRY_SOURCE}" "${entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
