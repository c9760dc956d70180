# lumidor_floor(<target> <folder under src/>) makes <target> the library of one folder of src/
# and gives it, and whoever links it, an include directory that holds that folder alone. A
# source then finds another folder's headers only through the libraries it links, so an
# include that runs against the floors (a lower folder reaching a higher one) fails to build.
function(lumidor_floor target folder)
    set(root ${PROJECT_BINARY_DIR}/floors/${target})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
    target_include_directories(${target} PUBLIC ${root})
endfunction()
