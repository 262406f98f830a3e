# Runs at install time and writes a program's desktop entry. Exec names the
# program by its full installed path, so that the entry starts it from a
# prefix that is not on PATH, such as ~/.local. DESTDIR, where a package is
# staged, is not part of that path.
#
#   OMBRIX_ENTRY_SOURCE  the entry with @OMBRIX_EXEC@ in it
#   OMBRIX_ENTRY_PATH    where it goes, below the prefix
#   OMBRIX_PROGRAM_PATH  the program, below the prefix

# A relative --prefix is taken from where cmake --install runs, as the
# files themselves are.
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)

# Quoted, whatever the path holds: inside the quotes ", `, $ and \ take a
# backslash, the entry's own escaping then doubles every backslash, and a
# % is written %%.
set(exec "${prefix}/${OMBRIX_PROGRAM_PATH}")
string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "%" "%%" exec "${exec}")
set(OMBRIX_EXEC "\"${exec}\"")

set(entry "$ENV{DESTDIR}${prefix}/${OMBRIX_ENTRY_PATH}")
message(STATUS "Installing: ${entry}")
configure_file("${OMBRIX_ENTRY_SOURCE}" "${entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
