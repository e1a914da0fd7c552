# None: the picture alone, no controls; the whole stage is picture area.

dynamic class None extends SkinPlayer
    constructor()
        getlocal0
        pushscope
        getlocal0
        pushbyte 0
        constructsuper 1
        returnvoid
    end
end
