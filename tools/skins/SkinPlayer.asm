# SkinPlayer: what every player skin does, whatever it shows: reads its settings, finds its
# video (the embedded sprite "video_mc" that the combiner places, or the progressive FLV
# named by the settings), plays, pauses, seeks, and stops or rewinds at the end.
#
# The settings come from the class "SWFData" that the combiner merges in; a skin without
# them plays nothing and shows black. A skin draws its controls by overriding
# buildControls (once) and refreshControls (every frame).
#
# Dynamic, as the runtime stores the placed sprite in a property named after it.

dynamic class SkinPlayer extends flash.display.MovieClip
    var settings:* = null
    var stageW:Number = 0
    var stageH:Number = 0
    var areaH:Number = 0          # height of the picture area above any control bar
    var fps:Number = 25
    var clip:* = null             # the embedded video sprite
    var stream:* = null           # the progressive FLV
    var screen:* = null           # the Video object showing the stream
    var poster:* = null           # the still picture over a stream that waits to be played
    var total:Number = 0          # length in seconds
    var playing:Boolean = false
    var atEnd:Boolean = false     # stopped on the last picture, the next play starts over
    var autoRewind:Boolean = false

    constructor(barHeight:Number)
        getlocal0
        pushscope
        getlocal0
        constructsuper 0
        getlocal0
        getlocal0
        getproperty loaderInfo
        getproperty width
        convert_d
        setproperty stageW
        getlocal0
        getlocal0
        getproperty loaderInfo
        getproperty height
        convert_d
        setproperty stageH
        getlocal0
        getlocal0
        getproperty loaderInfo
        getproperty frameRate
        convert_d
        setproperty fps
        getlocal0
        getlocal0
        getproperty stageH
        getlocal barHeight
        subtract
        setproperty areaH
        getlocal0
        getlocal0
        callproperty readSettings, 0
        setproperty settings
        getlocal0
        getlocal0
        pushstring "autoRewind"
        callproperty setting, 1
        convert_b
        setproperty autoRewind
        getlocal0
        callpropvoid paintBackground, 0
        getlocal0
        callpropvoid buildControls, 0
        getlocal0
        pushstring "enterFrame"
        getlocal0
        getproperty tick
        callpropvoid addEventListener, 2
        getlocal0
        callpropvoid attach, 0
        getlocal0
        callpropvoid refreshControls, 0
        returnvoid
    end

    # An instance of the merged settings class, or an empty object when there is none.
    method readSettings():*
        getlocal0
        pushscope
        getlex flash.system.ApplicationDomain
        getproperty currentDomain
        pushstring "SWFData"
        callproperty hasDefinition, 1
        iffalse none
        findpropstrict flash.utils.getDefinitionByName
        pushstring "SWFData"
        callproperty flash.utils.getDefinitionByName, 1
        construct 0
        returnvalue
    none:
        newobject 0
        returnvalue
    end

    method setting(name:String):*
        getlocal0
        pushscope
        getlocal0
        getproperty settings
        getlocal name
        getproperty []
        returnvalue
    end

    method paintBackground():void
        getlocal0
        pushscope
        getlocal0
        getproperty graphics
        getlocal0
        pushstring "bgcolor"
        callproperty setting, 1
        convert_u
        callpropvoid beginFill, 1
        getlocal0
        getproperty graphics
        pushbyte 0
        pushbyte 0
        getlocal0
        getproperty stageW
        getlocal0
        getproperty stageH
        callpropvoid drawRect, 4
        getlocal0
        getproperty graphics
        callpropvoid endFill, 0
        returnvoid
    end

    method buildControls():void
        returnvoid
    end

    method refreshControls():void
        returnvoid
    end

    # Finds the video once: the embedded sprite when the combiner placed one, else the FLV.
    method attach():void
        getlocal0
        pushscope
        getlocal0
        getproperty clip
        iftrue done
        getlocal0
        getproperty stream
        iftrue done
        getlocal0
        getlocal0
        pushstring "video_mc"
        callproperty getChildByName, 1
        setproperty clip
        getlocal0
        getproperty clip
        iffalse tryStream
        getlocal0
        callpropvoid startClip, 0
        jump done
    tryStream:
        getlocal0
        pushstring "videofile"
        callproperty setting, 1
        iffalse done
        getlocal0
        callpropvoid startStream, 0
    done:
        returnvoid
    end

    method startClip():void
        getlocal0
        pushscope
        getlocal0
        getlocal0
        getproperty clip
        getlocal0
        getproperty clip
        getproperty width
        getlocal0
        getproperty clip
        getproperty height
        callpropvoid fit, 3
        getlocal0
        getlocal0
        getproperty clip
        getproperty totalFrames
        getlocal0
        getproperty fps
        divide
        callpropvoid useTotal, 1
        getlocal0
        pushstring "autoplay"
        callproperty setting, 1
        iffalse still
        getlocal0
        pushtrue
        setproperty playing
        getlocal0
        getproperty clip
        callpropvoid play, 0
        returnvoid
    still:
        getlocal0
        getproperty clip
        pushbyte 1
        callpropvoid gotoAndStop, 1
        returnvoid
    end

    method startStream():void
        local connection
        getlocal0
        pushscope
        findpropstrict flash.net.NetConnection
        constructprop flash.net.NetConnection, 0
        setlocal connection
        getlocal connection
        pushnull
        callpropvoid connect, 1
        getlocal0
        findpropstrict flash.net.NetStream
        getlocal connection
        constructprop flash.net.NetStream, 1
        setproperty stream
        getlocal0
        getproperty stream
        getlocal0
        setproperty client
        getlocal0
        getproperty stream
        pushstring "netStatus"
        getlocal0
        getproperty onStatus
        callpropvoid addEventListener, 2
        getlocal0
        findpropstrict flash.media.Video
        getlocal0
        getproperty stageW
        getlocal0
        getproperty areaH
        constructprop flash.media.Video, 2
        setproperty screen
        getlocal0
        getproperty screen
        pushtrue
        setproperty smoothing
        getlocal0
        getlocal0
        getproperty screen
        pushbyte 0
        callpropvoid addChildAt, 2
        getlocal0
        getproperty screen
        getlocal0
        getproperty stream
        callpropvoid attachNetStream, 1
        getlocal0
        pushnan
        callpropvoid useTotal, 1
        getlocal0
        getlocal0
        pushstring "autoplay"
        callproperty setting, 1
        convert_b
        setproperty playing
        getlocal0
        getproperty stream
        getlocal0
        pushstring "videofile"
        callproperty setting, 1
        convert_s
        callpropvoid play, 1
        getlocal0
        getproperty playing
        iftrue done
        # Paused before anything arrives: a stream that played on until its first picture
        # showed would let its sound out, which no volume setting holds back in every runtime.
        getlocal0
        getproperty stream
        callpropvoid pause, 0
        getlocal0
        callpropvoid showPoster, 0
    done:
        returnvoid
    end

    # The combiner's still of the first picture, where the stream's pictures will show, until
    # the stream plays.
    method showPoster():void
        local picture
        getlocal0
        pushscope
        getlex flash.system.ApplicationDomain
        getproperty currentDomain
        pushstring "VideoPoster"
        callproperty hasDefinition, 1
        iffalse done
        findpropstrict flash.utils.getDefinitionByName
        pushstring "VideoPoster"
        callproperty flash.utils.getDefinitionByName, 1
        pushbyte 0
        pushbyte 0
        construct 2
        setlocal picture
        getlocal0
        findpropstrict flash.display.Bitmap
        getlocal picture
        pushstring "auto"
        pushtrue
        constructprop flash.display.Bitmap, 3
        setproperty poster
        getlocal0
        getlocal0
        getproperty poster
        getlocal picture
        getproperty width
        convert_d
        getlocal picture
        getproperty height
        convert_d
        callpropvoid fit, 3
        getlocal0
        getlocal0
        getproperty poster
        getlocal0
        getlocal0
        getproperty screen
        callproperty getChildIndex, 1
        increment
        callpropvoid addChildAt, 2
    done:
        returnvoid
    end

    method dropPoster():void
        getlocal0
        pushscope
        getlocal0
        getproperty poster
        iffalse done
        getlocal0
        getlocal0
        getproperty poster
        callpropvoid removeChild, 1
        getlocal0
        getproperty poster
        getproperty bitmapData
        callpropvoid dispose, 0
        getlocal0
        pushnull
        setproperty poster
    done:
        returnvoid
    end

    # The length shown: the settings' whole seconds when given, else what the video says.
    method useTotal(fallback:Number):void
        local seconds
        getlocal0
        pushscope
        getlocal0
        pushstring "videotime"
        callproperty setting, 1
        convert_d
        setlocal seconds
        getlocal seconds
        pushbyte 0
        ifgt known
        getlocal fallback
        setlocal seconds
    known:
        getlocal0
        getlocal seconds
        setproperty total
        returnvoid
    end

    # Scales a picture of w x h to fit the area above the controls, centred, aspect kept.
    method fit(target, w:Number, h:Number):void
        local scale
        getlocal0
        pushscope
        getlex Math
        getlocal0
        getproperty stageW
        getlocal w
        divide
        getlocal0
        getproperty areaH
        getlocal h
        divide
        callproperty min, 2
        convert_d
        setlocal scale
        getlocal target
        getlocal w
        getlocal scale
        multiply
        setproperty width
        getlocal target
        getlocal h
        getlocal scale
        multiply
        setproperty height
        getlocal target
        getlocal0
        getproperty stageW
        getlocal w
        getlocal scale
        multiply
        subtract
        pushbyte 2
        divide
        setproperty x
        getlocal target
        getlocal0
        getproperty areaH
        getlocal h
        getlocal scale
        multiply
        subtract
        pushbyte 2
        divide
        setproperty y
        returnvoid
    end

    # NetStream client callback: the FLV's own size and length.
    method onMetaData(info):void
        getlocal0
        pushscope
        getlocal info
        getproperty width
        convert_d
        pushbyte 0
        ifngt sized
        getlocal info
        getproperty height
        convert_d
        pushbyte 0
        ifngt sized
        getlocal0
        getlocal0
        getproperty screen
        getlocal info
        getproperty width
        convert_d
        getlocal info
        getproperty height
        convert_d
        callpropvoid fit, 3
    sized:
        getlocal0
        getproperty total
        pushbyte 0
        ifgt done
        getlocal0
        getlocal info
        getproperty duration
        convert_d
        setproperty total
    done:
        returnvoid
    end

    method onStatus(e):void
        getlocal0
        pushscope
        getlocal e
        getproperty info
        getproperty code
        pushstring "NetStream.Play.Stop"
        ifne done
        getlocal0
        callpropvoid finish, 0
    done:
        returnvoid
    end

    # Every frame: find the video if it came late, and stop the embedded sprite on its last
    # frame (a sprite would loop by itself).
    method tick(e):void
        getlocal0
        pushscope
        getlocal0
        callpropvoid attach, 0
        getlocal0
        getproperty clip
        iffalse refresh
        getlocal0
        getproperty playing
        iffalse refresh
        getlocal0
        getproperty clip
        getproperty currentFrame
        getlocal0
        getproperty clip
        getproperty totalFrames
        iflt refresh
        getlocal0
        callpropvoid finish, 0
    refresh:
        getlocal0
        callpropvoid refreshControls, 0
        returnvoid
    end

    method finish():void
        getlocal0
        pushscope
        getlocal0
        pushfalse
        setproperty playing
        getlocal0
        getproperty autoRewind
        iffalse hold
        getlocal0
        pushbyte 0
        callpropvoid seekTo, 1
        returnvoid
    hold:
        getlocal0
        callpropvoid halt, 0
        getlocal0
        pushtrue
        setproperty atEnd
        returnvoid
    end

    method halt():void
        getlocal0
        pushscope
        getlocal0
        getproperty clip
        iffalse noClip
        getlocal0
        getproperty clip
        callpropvoid stop, 0
        returnvoid
    noClip:
        getlocal0
        getproperty stream
        iffalse done
        getlocal0
        getproperty stream
        callpropvoid pause, 0
    done:
        returnvoid
    end

    method setPlaying(on:Boolean):void
        getlocal0
        pushscope
        getlocal0
        getlocal on
        setproperty playing
        getlocal on
        iffalse pausing
        getlocal0
        callpropvoid dropPoster, 0
        getlocal0
        getproperty atEnd
        iffalse resuming
        getlocal0
        pushbyte 0
        callpropvoid seekTo, 1
        returnvoid
    resuming:
        getlocal0
        getproperty clip
        iffalse resumeStream
        getlocal0
        getproperty clip
        callpropvoid play, 0
        returnvoid
    resumeStream:
        getlocal0
        getproperty stream
        iffalse done
        getlocal0
        getproperty stream
        callpropvoid resume, 0
        returnvoid
    pausing:
        getlocal0
        callpropvoid halt, 0
    done:
        returnvoid
    end

    # Moves to a fraction of the length, keeping the play state.
    method seekTo(fraction:Number):void
        local frame
        getlocal0
        pushscope
        getlocal0
        pushfalse
        setproperty atEnd
        getlocal0
        getproperty clip
        iffalse noClip
        getlex Math
        getlocal fraction
        getlocal0
        getproperty clip
        getproperty totalFrames
        decrement
        multiply
        callproperty round, 1
        increment
        setlocal frame
        getlocal0
        getproperty playing
        iffalse clipStill
        getlocal0
        getproperty clip
        getlocal frame
        callpropvoid gotoAndPlay, 1
        returnvoid
    clipStill:
        getlocal0
        getproperty clip
        getlocal frame
        callpropvoid gotoAndStop, 1
        returnvoid
    noClip:
        getlocal0
        getproperty stream
        iffalse done
        getlocal0
        getproperty stream
        getlocal fraction
        getlocal0
        getproperty total
        multiply
        dup
        iftrue seconds
        pop
        pushbyte 0
    seconds:
        callpropvoid seek, 1
        getlocal0
        getproperty playing
        iftrue playOn
        getlocal0
        getproperty stream
        callpropvoid pause, 0
        returnvoid
    playOn:
        getlocal0
        getproperty stream
        callpropvoid resume, 0
    done:
        returnvoid
    end

    method toggle(e):void
        getlocal0
        pushscope
        getlocal0
        getlocal0
        getproperty playing
        not
        callpropvoid setPlaying, 1
        getlocal0
        callpropvoid refreshControls, 0
        returnvoid
    end

    # Seconds played so far, counting the picture on show as played.
    method position():Number
        getlocal0
        pushscope
        getlocal0
        getproperty clip
        iffalse noClip
        getlocal0
        getproperty clip
        getproperty currentFrame
        getlocal0
        getproperty fps
        divide
        returnvalue
    noClip:
        getlocal0
        getproperty stream
        iffalse none
        getlocal0
        getproperty stream
        getproperty time
        returnvalue
    none:
        pushbyte 0
        returnvalue
    end

    # How far playback has come, from 0 to 1.
    method progress():Number
        getlocal0
        pushscope
        getlocal0
        getproperty clip
        iffalse timed
        getlocal0
        getproperty clip
        getproperty currentFrame
        decrement
        getlex Math
        pushbyte 1
        getlocal0
        getproperty clip
        getproperty totalFrames
        decrement
        callproperty max, 2
        divide
        returnvalue
    timed:
        getlocal0
        getproperty total
        pushbyte 0
        ifngt zero
        getlex Math
        getlocal0
        callproperty position, 0
        getlocal0
        getproperty total
        divide
        pushbyte 1
        callproperty min, 2
        returnvalue
    zero:
        pushbyte 0
        returnvalue
    end
end
