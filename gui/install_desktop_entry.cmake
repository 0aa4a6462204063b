# Run by the install (see corvane_install_desktop_entry): writes the desktop
# entry of one program from its template, with the program's path in the
# prefix being installed to, and installs it into <datadir>/applications.
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
set(exec "${prefix}/${CORVANE_DESKTOP_BINDIR}/${CORVANE_DESKTOP_PROGRAM}")
if(exec MATCHES "[\"`$\\\\%]")
  # Characters an Exec line would need escaped twice over: the program is then
  # looked up along the PATH.
  set(exec "${CORVANE_DESKTOP_PROGRAM}")
elseif(exec MATCHES "[ \t'<>~|&;*?#()]")
  set(exec "\"${exec}\"")
endif()
set(CORVANE_EXEC "${exec}")
get_filename_component(entry "${CORVANE_DESKTOP_TEMPLATE}" NAME_WLE)
configure_file("${CORVANE_DESKTOP_TEMPLATE}" "${CORVANE_DESKTOP_WORK}/${entry}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${CORVANE_DESKTOP_DATADIR}/applications" TYPE FILE
  FILES "${CORVANE_DESKTOP_WORK}/${entry}")
