# Makes the MSI of a Windows build with wixl, from the files its install rules lay out and the
# template packaging/windows/salestotals.wxs.in, so that the package holds what the zip holds.
# Run by the build's msi target:
#
#   cmake -DSETTINGS=<build>/msi-settings.cmake [-DVERSION=x.y.z] [-DOUTPUT=file.msi] \
#         -P cmake/windows-msi.cmake
#
# VERSION and OUTPUT replace the build's own (an older version for trying upgrades).
#
# Per machine, 64-bit, under Program Files\<name>, a Start-menu shortcut to the window. A major
# upgrade: a later version with the same upgrade code first removes the installed one. The
# public properties become the site's settings in the registry (see the table below); without
# SERVER the demo database goes under ProgramData instead. wixl writes no component conditions
# or attributes beyond the basic ones, nor permissions: msibuild adds them to its package.
cmake_minimum_required(VERSION 3.25)

include(${SETTINGS})
foreach(key VERSION OUTPUT)
    if(DEFINED ${key})
        set(MSI_${key} "${${key}}")
    endif()
endforeach()
if(NOT MSI_WIXL OR NOT MSI_BUILD)
    message(FATAL_ERROR "wixl and msibuild are not both installed (Debian packages wixl, msitools)")
endif()
if(NOT MSI_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "an MSI version has three numbers, not '${MSI_VERSION}'")
endif()

set(stage ${MSI_BUILD_DIR}/msi-stage)
file(REMOVE_RECURSE ${stage})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${MSI_BUILD_DIR} --prefix ${stage}
                OUTPUT_QUIET RESULT_VARIABLE status)
if(status)
    message(FATAL_ERROR "laying out ${MSI_BUILD_DIR} in ${stage} failed")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
# The demo database goes under ProgramData, not beside the programs.
if(NOT MSI_DATABASE OR NOT EXISTS "${stage}/${MSI_DATABASE}")
    message(FATAL_ERROR "the layout in ${stage} has no demo database '${MSI_DATABASE}'")
endif()
list(REMOVE_ITEM files ${MSI_DATABASE})
list(SORT files)
if(NOT "salestotals.exe" IN_LIST files)
    message(FATAL_ERROR "the layout in ${stage} has no salestotals.exe")
endif()

function(xml_text out text)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE "\"" "&quot;" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Component GUIDs stay the same from build to build: named after the product and the path.
set(guid_namespace 6F1F3C1A-7B55-4B9E-9C1D-2E6D5A0B8C47)
set(component_refs "")
set(counter 0)

# One <Directory> level: the files of `dir` (relative to the layout, "" for its root), then
# its subfolders.
function(emit_directory dir indent out)
    set(text "")
    set(subdirs "")
    foreach(file IN LISTS files)
        get_filename_component(parent "${file}" DIRECTORY)
        if(parent STREQUAL dir)
            math(EXPR counter "${counter} + 1")
            set(counter ${counter} PARENT_SCOPE)
            string(UUID guid NAMESPACE ${guid_namespace} NAME "${MSI_NAME}/${file}" TYPE SHA1
                   UPPER)
            get_filename_component(name "${file}" NAME)
            xml_text(name "${name}")
            xml_text(source "msi-stage/${file}")
            string(APPEND text "${indent}<Component Id=\"c${counter}\" Guid=\"${guid}\" Win64=\"yes\">\n"
                               "${indent}  <File Id=\"f${counter}\" Name=\"${name}\" Source=\"${source}\" KeyPath=\"yes\"/>\n"
                               "${indent}</Component>\n")
            list(APPEND component_refs c${counter})
        else()
            # A folder below dir (or elsewhere): its first level under dir.
            string(FIND "${parent}/" "${dir}/" at)
            if(NOT dir STREQUAL "" AND NOT at EQUAL 0)
                continue()
            endif()
            if(dir STREQUAL "")
                string(REGEX MATCH "^[^/]+" child "${parent}")
            else()
                string(LENGTH "${dir}/" skip)
                string(SUBSTRING "${parent}" ${skip} -1 rest)
                string(REGEX MATCH "^[^/]+" child "${rest}")
                set(child "${dir}/${child}")
            endif()
            list(APPEND subdirs "${child}")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES subdirs)
    foreach(sub IN LISTS subdirs)
        math(EXPR counter "${counter} + 1")
        set(id d${counter})
        get_filename_component(name "${sub}" NAME)
        xml_text(name "${name}")
        emit_directory("${sub}" "${indent}  " inner)
        string(APPEND text "${indent}<Directory Id=\"${id}\" Name=\"${name}\">\n${inner}"
                           "${indent}</Directory>\n")
    endforeach()
    set(component_refs "${component_refs}" PARENT_SCOPE)
    set(counter ${counter} PARENT_SCOPE)
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

emit_directory("" "          " program_files)

# The public properties and the registry values (of HKLM\SOFTWARE\salestotals, named as the
# keys of a configuration file) that each writes when it is set: PROPERTY|name=value,...
set(site_settings "SERVER|backend=sqlserver,server=[SERVER]" "ODBC_DRIVER|odbc_driver=[ODBC_DRIVER]"
                  "ODBC_OPTIONS|odbc_options=[ODBC_OPTIONS]" "RUN_LOCK_WAIT|run_lock_wait=[RUN_LOCK_WAIT]")
set(searches "")
set(keep_actions "")
set(keep_sequence "")
set(settings "")
set(conditions "")
set(sequence 50) # AppSearch's: each kept value is taken right after it
function(registry_component id condition values)
    string(UUID guid NAMESPACE ${guid_namespace} NAME "${MSI_NAME}/setting/${id}" TYPE SHA1 UPPER)
    string(APPEND settings "          <Component Id=\"${id}\" Guid=\"${guid}\" Win64=\"yes\">\n")
    set(key_path " KeyPath=\"yes\"")
    foreach(pair IN LISTS values)
        string(REGEX MATCH "^([^=]+)=(.*)$" _ "${pair}")
        string(APPEND settings "            <RegistryValue Root=\"HKLM\" Key=\"SOFTWARE\\salestotals\" "
                               "Name=\"${CMAKE_MATCH_1}\" Type=\"string\" Value=\"${CMAKE_MATCH_2}\"${key_path}/>\n")
        set(key_path "")
    endforeach()
    string(APPEND settings "          </Component>\n")
    list(APPEND component_refs ${id})
    list(APPEND conditions "${id}|${condition}")
    foreach(out settings component_refs conditions)
        set(${out} "${${out}}" PARENT_SCOPE)
    endforeach()
endfunction()
foreach(entry IN LISTS site_settings)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 property)
    list(GET entry 1 values)
    string(REPLACE "," ";" values "${values}")
    string(TOLOWER "setting_${property}" id)
    registry_component(${id} ${property} "${values}")
    list(GET values -1 last)
    string(REGEX MATCH "^[^=]+" name "${last}")
    math(EXPR sequence "${sequence} + 1")
    string(APPEND searches "    <Property Id=\"INSTALLED_${property}\">\n"
                           "      <RegistrySearch Id=\"installed_${name}\" Root=\"HKLM\" Key=\"SOFTWARE\\salestotals\" "
                           "Name=\"${name}\" Type=\"raw\" Win64=\"yes\"/>\n    </Property>\n")
    string(APPEND keep_actions "    <CustomAction Id=\"KEEP_${property}\" Property=\"${property}\" "
                               "Value=\"[INSTALLED_${property}]\"/>\n")
    string(APPEND keep_sequence "      <Custom Action=\"KEEP_${property}\" Sequence=\"${sequence}\">"
                                "INSTALLED_${property} AND NOT ${property}</Custom>\n")
endforeach()
registry_component(setting_demo "NOT SERVER" "database_file=[DEMODIR]QVT.sqlite")
list(APPEND component_refs demo_database)
string(UUID menu_guid NAMESPACE ${guid_namespace} NAME "${MSI_NAME}/Start menu" TYPE SHA1 UPPER)
set(refs "")
foreach(ref IN LISTS component_refs ITEMS menu)
    string(APPEND refs "      <ComponentRef Id=\"${ref}\"/>\n")
endforeach()

# The folders and components above go into the template; the rest of the package is there.
set(MSI_PROGRAM_FILES "${program_files}")
set(MSI_MENU_GUID "${menu_guid}")
set(MSI_COMPONENT_REFS "${refs}")
set(MSI_SETTINGS "${settings}")
set(MSI_SEARCHES "${searches}")
set(MSI_KEEP_ACTIONS "${keep_actions}")
set(MSI_KEEP_SEQUENCE "${keep_sequence}")
string(UUID MSI_DEMO_GUID NAMESPACE ${guid_namespace} NAME "${MSI_NAME}/demo database" TYPE SHA1
       UPPER)
xml_text(MSI_DEMO_SOURCE "msi-stage/${MSI_DATABASE}")
set(wxs ${MSI_BUILD_DIR}/${MSI_NAME}.wxs)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../packaging/windows/salestotals.wxs.in ${wxs} @ONLY)

execute_process(COMMAND ${MSI_WIXL} --arch x64 -o ${MSI_OUTPUT} ${wxs}
                RESULT_VARIABLE status ERROR_VARIABLE errors)
# wixl reports unknown attributes only as GLib warnings: treat any as a failure.
if(status OR errors MATCHES "WARNING|CRITICAL")
    file(REMOVE ${MSI_OUTPUT})
    message(FATAL_ERROR "wixl failed on ${wxs}:\n${errors}")
endif()

# What wixl leaves out. Attributes: 256 64-bit, 4 the key path is a registry value, 64
# transitive (a reinstall with other properties adds or removes the component), 16 permanent
# and 128 never overwrite (the demo database holds the operator's runs: neither an upgrade nor
# msiexec /x replaces or deletes it).
# Queries run one by one: their text holds ';', which a CMake list would split.
function(msi_query query)
    execute_process(COMMAND ${MSI_BUILD} ${MSI_OUTPUT} -q "${query}"
                    RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(status OR errors)
        file(REMOVE ${MSI_OUTPUT})
        message(FATAL_ERROR "msibuild failed on ${MSI_OUTPUT}: ${query}\n${errors}")
    endif()
endfunction()
foreach(entry IN LISTS conditions)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 id)
    list(GET entry 1 condition)
    msi_query("UPDATE `Component` SET `Condition` = '${condition}', `Attributes` = 324 WHERE `Component` = '${id}'")
endforeach()
msi_query("UPDATE `Component` SET `Condition` = 'NOT SERVER', `Attributes` = 400 WHERE `Component` = 'demo_database'")
# An assigned (Group Policy) installation hands only secure properties to the installer.
msi_query("UPDATE `Property` SET `Value` = 'SERVER;ODBC_DRIVER;ODBC_OPTIONS;RUN_LOCK_WAIT;SALESTOTALS_SITE_BUILD;WIX_UPGRADE_DETECTED;WIX_DOWNGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'")
# The demo database's own permissions (protected: nothing inherited): SYSTEM and the
# Administrators everything, the machine's users read and write.
msi_query("CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDL` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)")
msi_query("INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDL`) VALUES ('demo_database', 'demo_database', 'File', 'D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFW;;;BU)')")
list(LENGTH files count)
message(STATUS "${MSI_OUTPUT}: ${MSI_NAME} ${MSI_VERSION}, ${count} files and the demo database")
