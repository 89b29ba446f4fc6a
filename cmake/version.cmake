# The product's version, from project(VERSION) at the top: the pipe's
# "version" reply (major.minor as a number, "0.400000" for 0.4), the version
# resource of every Windows file we build, the installer and the package.
set(VT_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/resources/vt_version.h.in ${VT_GENERATED_DIR}/vt_version.h
               @ONLY)
target_include_directories(vt_platform_api INTERFACE ${VT_GENERATED_DIR})

set(VT_COMPANY "Tarnwick")
set(VT_PRODUCT "Tarnwick Veltrace Technology Service")

# What Explorer and Task Manager show for each file we ship; anything else
# (tests, helpers) is named after its target.
set(VT_FILE_DESCRIPTIONS
    VTService "Tarnwick Veltrace Technology Service"
    twlink "Device library stand-in (device simulator)"
    oledconvert "OLED text converter stand-in"
    cpuidsdk "Sensor SDK stand-in"
    tw-core-temp "Temperature library stand-in"
    tw_nightjar "Companion program stand-in"
    twsim "Device simulator control client"
    vtctl "VTService pipe client"
    oledrender "OLED job screen renderer")

# The message table behind the event log entries: windmc turns the message
# texts into the binary block the resource compiler puts into VTService.exe.
function(vt_event_messages target)
    set(out ${CMAKE_BINARY_DIR}/messages)
    set(bin ${out}/MSG00001.bin)
    add_custom_command(OUTPUT ${bin}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
        COMMAND ${VT_WINDMC} -U -h ${out} -r ${out} ${CMAKE_SOURCE_DIR}/resources/event_messages.mc
        DEPENDS ${CMAKE_SOURCE_DIR}/resources/event_messages.mc
        COMMENT "Event message table")
    add_custom_target(${target}_event_messages DEPENDS ${bin})
    add_dependencies(${target} ${target}_event_messages)
    # Neutral first, so every display language finds it; US English too,
    # the last language a message lookup falls back on.
    set_property(TARGET ${target} PROPERTY VT_RC_EXTRA
        "LANGUAGE 0, 0\n1 MESSAGETABLE \"${bin}\"\nLANGUAGE 9, 1\n1 MESSAGETABLE \"${bin}\"\n")
    set_property(TARGET ${target} PROPERTY VT_RC_DEPENDS ${bin})
endfunction()

# Every executable and library target in DIR and below.
function(vt_binary_targets dir result)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    set(found)
    foreach(t ${targets})
        get_target_property(type ${t} TYPE)
        if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY"
           OR type STREQUAL "MODULE_LIBRARY")
            list(APPEND found ${t})
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub ${subdirs})
        vt_binary_targets(${sub} more)
        list(APPEND found ${more})
    endforeach()
    set(${result} ${found} PARENT_SCOPE)
endfunction()

# A version resource for every executable and library of the Windows build;
# called once, after every target exists.
function(vt_version_resources)
    if(NOT WIN32)
        return()
    endif()
    set(numbers "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
    vt_binary_targets(${CMAKE_SOURCE_DIR} targets)
    foreach(t ${targets})
        list(FIND VT_FILE_DESCRIPTIONS ${t} at)
        if(at GREATER_EQUAL 0)
            math(EXPR at "${at} + 1")
            list(GET VT_FILE_DESCRIPTIONS ${at} description)
        else()
            set(description "${t}")
        endif()
        get_target_property(type ${t} TYPE)
        if(type STREQUAL "EXECUTABLE")
            set(file_type "VFT_APP")
        else()
            set(file_type "VFT_DLL")
        endif()
        get_target_property(extra ${t} VT_RC_EXTRA)
        if(NOT extra)
            set(extra "")
        endif()
        set(rc ${CMAKE_BINARY_DIR}/version/${t}.rc)
        file(GENERATE OUTPUT ${rc} CONTENT "#include <winver.h>
LANGUAGE 9, 1
VS_VERSION_INFO VERSIONINFO
FILEVERSION ${numbers}
PRODUCTVERSION ${numbers}
FILEFLAGSMASK VS_FFI_FILEFLAGSMASK
FILEFLAGS 0
FILEOS VOS_NT_WINDOWS32
FILETYPE ${file_type}
FILESUBTYPE VFT2_UNKNOWN
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904B0\"
    BEGIN
      VALUE \"CompanyName\", \"${VT_COMPANY}\"
      VALUE \"FileDescription\", \"${description}\"
      VALUE \"FileVersion\", \"${PROJECT_VERSION}\"
      VALUE \"InternalName\", \"$<TARGET_FILE_BASE_NAME:${t}>\"
      VALUE \"OriginalFilename\", \"$<TARGET_FILE_NAME:${t}>\"
      VALUE \"ProductName\", \"${VT_PRODUCT}\"
      VALUE \"ProductVersion\", \"${PROJECT_VERSION}\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
${extra}")
        target_sources(${t} PRIVATE ${rc})
        get_target_property(depends ${t} VT_RC_DEPENDS)
        if(depends)
            set_source_files_properties(${rc} TARGET_DIRECTORY ${t} PROPERTIES
                                        OBJECT_DEPENDS ${depends})
        endif()
    endforeach()
endfunction()
