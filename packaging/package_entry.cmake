# Run by cpack before it packs the staged program folder. The staging folder
# is not where the package will be unpacked, so the packed entry finds the
# program and its icon by name; add-to-desktop.sh in the unpacked folder
# rewrites it with that folder's absolute paths.
set(quarlo_folder "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
execute_process(
    COMMAND bash "${quarlo_folder}/add-to-desktop.sh" --print-entry
    OUTPUT_FILE "${quarlo_folder}/share/applications/quarlo.desktop"
    RESULT_VARIABLE quarlo_entry_result)
if(NOT quarlo_entry_result EQUAL 0)
    message(FATAL_ERROR "cannot write the packed desktop entry")
endif()
