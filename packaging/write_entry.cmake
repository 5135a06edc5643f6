# Run by `cmake --install`: writes the desktop entry of the program folder
# just installed, with Exec and Icon as absolute paths into the folder (the
# install prefix; DESTDIR only stages the files). Expects
# quarlo_desktop_script, the path of add-to-desktop.sh.
set(quarlo_entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/quarlo.desktop")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications")
message(STATUS "Installing: ${quarlo_entry}")
execute_process(
    COMMAND bash "${quarlo_desktop_script}" --print-entry "${CMAKE_INSTALL_PREFIX}"
    OUTPUT_FILE "${quarlo_entry}"
    RESULT_VARIABLE quarlo_entry_result)
if(NOT quarlo_entry_result EQUAL 0)
    message(FATAL_ERROR "cannot write the desktop entry ${quarlo_entry}")
endif()
