# Run by `cmake --install`: puts the default palette into the program folder
# unless the folder has one already. Expects quarlo_palette, the path of
# data/Color.Ini.
set(quarlo_target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/Color.Ini")
if(EXISTS "${quarlo_target}" OR IS_SYMLINK "${quarlo_target}")
    message(STATUS "Keeping: ${quarlo_target}")
else()
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE FILE FILES "${quarlo_palette}")
endif()
