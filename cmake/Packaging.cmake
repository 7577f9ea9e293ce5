# What the packages hold. Linux: a Debian package with the program under /opt/tillvane, a
# sample configuration (kept on upgrade), and the systemd unit, installed but not enabled.
# Windows: a zip with the .exe, a sample .ini and a short README.
# Both carry the Prometheus alert rules (prometheus/tillvane_alerts.yml).
# package.sh builds the program alone; packing need not build every test first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(CPACK_PACKAGE_NAME tillvane)
set(CPACK_PACKAGE_VENDOR "Tillvane")
set(CPACK_PACKAGE_CONTACT "Tillvane maintainers <tillvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fiscal receipt printer behind a small HTTP interface")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)

if(WIN32)
    # Windows' texts with CR LF line ends (Notepad of older Windows shows LF files as one line);
    # the MSI (scripts/build-msi.sh) packs the same files.
    set(TILLVANE_WINDOWS_TEXTS ${PROJECT_BINARY_DIR}/windows-texts)
    configure_file(${packaging_dir}/Tillvane_se.ini.sample
                   ${TILLVANE_WINDOWS_TEXTS}/Tillvane_se.ini.sample @ONLY NEWLINE_STYLE CRLF)
    configure_file(${packaging_dir}/windows/README-Windows.txt
                   ${TILLVANE_WINDOWS_TEXTS}/README-Windows.txt @ONLY NEWLINE_STYLE CRLF)
    install(TARGETS Tillvane_se RUNTIME DESTINATION .)
    install(FILES ${TILLVANE_WINDOWS_TEXTS}/Tillvane_se.ini.sample
                  ${TILLVANE_WINDOWS_TEXTS}/README-Windows.txt
            DESTINATION .)
    install(FILES ${packaging_dir}/prometheus/tillvane_alerts.yml DESTINATION prometheus)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME windows-x64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    install(TARGETS Tillvane_se RUNTIME DESTINATION opt/tillvane)
    install(FILES ${packaging_dir}/Tillvane_se.ini.sample DESTINATION opt/tillvane
            RENAME Tillvane_se.ini)
    # For the monitoring server to load (rule_files); nothing here reads it.
    install(FILES ${packaging_dir}/prometheus/tillvane_alerts.yml
            DESTINATION opt/tillvane/prometheus)
    # Written at build time by the code -install uses (tools/systemd_unit).
    install(FILES ${TILLVANE_PACKAGED_UNIT} DESTINATION lib/systemd/system)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /)
    set(CPACK_SET_DESTDIR OFF)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION misc)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${packaging_dir}/debian/conffiles ${packaging_dir}/debian/postinst
        ${packaging_dir}/debian/prerm ${packaging_dir}/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
