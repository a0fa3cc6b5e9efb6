# The Windows download, made by `cpack -G ZIP` in the Windows build folder:
# kfu-<version>-win64.zip with the window program korvane-util.exe, the
# command line kfu.exe, the README and the licence.
if(TARGET kfu)
    # build/win64/kfu.exe, where the build script promises it.
    set_target_properties(kfu PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    install(TARGETS kfu korvane-util RUNTIME DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME kfu)
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_PACKAGE_FILE_NAME kfu-${PROJECT_VERSION}-win64)
    include(CPack)
endif()
