# The Windows zip: the program with the Qt libraries and plugins it loads, the MinGW runtime,
# the licence and a short README.txt. The test driver is installed beside it in a component of
# its own, installed only when asked for (cmake --install --component driver).

set_target_properties(kv310-test PROPERTIES WIN32_EXECUTABLE ON)

set(windows_runtime)
foreach(library Core Gui Widgets SerialPort)
    list(APPEND windows_runtime $<TARGET_FILE:Qt6::${library}>)
endforeach()
foreach(library libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}")
        message(FATAL_ERROR "The compiler does not know ${library}")
    endif()
    list(APPEND windows_runtime ${path})
endforeach()
install(FILES ${windows_runtime} DESTINATION bin)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION bin/platforms)
if(TARGET kv310-test-driver)
    install(TARGETS kv310-test-driver RUNTIME DESTINATION bin COMPONENT driver EXCLUDE_FROM_ALL)
    # The tests run the driver headless.
    install(FILES $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> DESTINATION bin/platforms
            COMPONENT driver EXCLUDE_FROM_ALL)
endif()
# The libraries come with their symbols; the zip needs none of them.
install(CODE "
    file(GLOB_RECURSE binaries \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/*.dll\"
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/*.exe\")
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \${binaries}
                    COMMAND_ERROR_IS_FATAL ANY)
")
install(FILES LICENSE packaging/windows/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kv310-test)
set(CPACK_PACKAGE_VENDOR "Veltor Ltd")
set(CPACK_SYSTEM_NAME win64)
# One package: the test driver's component stays out of the installer as it does of the zip.
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_STRIP_FILES ON)
# The installer (cpack -G NSIS, with makensis): a Start-menu entry for the program.
set(CPACK_PACKAGE_INSTALL_DIRECTORY kv310-test)
set(CPACK_PACKAGE_EXECUTABLES kv310-test "KV310 test utility")
set(CPACK_NSIS_DISPLAY_NAME "KV310 test utility")
if(CMAKE_HOST_UNIX)
    set(CPACK_NSIS_EXECUTABLE ${CMAKE_CURRENT_LIST_DIR}/makensis-amd64)
endif()
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
