# Player01: the default skin. A control bar under the picture (play/pause, a seek bar that
# shows progress and takes clicks, elapsed and total time) and a big play button over the
# picture while it stands still. With "autohide" the bar shows only while the mouse moves.
# Colours match the preview picture drawn at build time.

dynamic class Player01 extends SkinPlayer
    const BAR:Number = 30
    const TIME_WIDTH:Number = 92
    const BAR_COLOUR:uint = 0x262A33
    const TRACK_COLOUR:uint = 0x444A55
    const PROGRESS_COLOUR:uint = 0x3CA0E6
    const GLYPH_COLOUR:uint = 0xF2F4F7
    const HIDE_AFTER_MS:Number = 2500

    var bar:* = null
    var button:* = null
    var track:* = null
    var trackW:Number = 0
    var bigPlay:* = null
    var timeText:* = null
    var autohide:Boolean = false
    var hideAt:Number = 0

    constructor()
        getlocal0
        pushscope
        getlocal0
        pushbyte 30
        constructsuper 1
        returnvoid
    end

    override method buildControls():void
        local format
        getlocal0
        pushscope
        # the bar and its play/pause button
        getlocal0
        getlocal0
        getlocal0
        pushbyte 0
        getlocal0
        getproperty areaH
        callproperty sprite, 3
        setproperty bar
        getlocal0
        getlocal0
        getproperty bar
        getproperty graphics
        getlocal0
        getproperty BAR_COLOUR
        pushbyte 1
        pushbyte 0
        pushbyte 0
        getlocal0
        getproperty stageW
        getlocal0
        getproperty BAR
        callpropvoid box, 7
        getlocal0
        getlocal0
        getlocal0
        getproperty bar
        pushbyte 0
        pushbyte 0
        callproperty sprite, 3
        setproperty button
        getlocal0
        getproperty button
        pushtrue
        setproperty buttonMode
        getlocal0
        getproperty button
        pushstring "click"
        getlocal0
        getproperty toggle
        callpropvoid addEventListener, 2
        # the seek bar between the button and the time
        getlocal0
        getlocal0
        getlocal0
        getproperty bar
        getlocal0
        getproperty BAR
        pushbyte 0
        callproperty sprite, 3
        setproperty track
        getlocal0
        getlex Math
        pushbyte 8
        getlocal0
        getproperty stageW
        getlocal0
        getproperty BAR
        subtract
        getlocal0
        getproperty TIME_WIDTH
        subtract
        callproperty max, 2
        convert_d
        setproperty trackW
        getlocal0
        getproperty track
        pushtrue
        setproperty buttonMode
        getlocal0
        getproperty track
        pushstring "click"
        getlocal0
        getproperty onSeek
        callpropvoid addEventListener, 2
        # elapsed / total time
        getlocal0
        findpropstrict flash.text.TextField
        constructprop flash.text.TextField, 0
        setproperty timeText
        findpropstrict flash.text.TextFormat
        pushstring "_sans"
        pushbyte 11
        getlocal0
        getproperty GLYPH_COLOUR
        constructprop flash.text.TextFormat, 3
        setlocal format
        getlocal format
        pushstring "right"
        setproperty align
        getlocal0
        getproperty timeText
        getlocal format
        setproperty defaultTextFormat
        getlocal0
        getproperty timeText
        pushfalse
        setproperty selectable
        getlocal0
        getproperty timeText
        pushfalse
        setproperty mouseEnabled
        getlocal0
        getproperty timeText
        getlocal0
        getproperty stageW
        getlocal0
        getproperty TIME_WIDTH
        subtract
        setproperty x
        getlocal0
        getproperty timeText
        pushbyte 7
        setproperty y
        getlocal0
        getproperty timeText
        getlocal0
        getproperty TIME_WIDTH
        pushbyte 6
        subtract
        setproperty width
        getlocal0
        getproperty timeText
        pushbyte 18
        setproperty height
        getlocal0
        getproperty bar
        getlocal0
        getproperty timeText
        callpropvoid addChild, 1
        # the big play button over the picture
        getlocal0
        getlocal0
        getlocal0
        getlocal0
        getproperty stageW
        pushbyte 2
        divide
        getlocal0
        getproperty areaH
        pushbyte 2
        divide
        callproperty sprite, 3
        setproperty bigPlay
        getlocal0
        getproperty bigPlay
        pushtrue
        setproperty buttonMode
        getlocal0
        getproperty bigPlay
        pushstring "click"
        getlocal0
        getproperty toggle
        callpropvoid addEventListener, 2
        getlocal0
        callpropvoid paintBigPlay, 0
        # auto-hide follows the mouse
        getlocal0
        getlocal0
        pushstring "autohide"
        callproperty setting, 1
        convert_b
        setproperty autohide
        getlocal0
        pushstring "mouseMove"
        getlocal0
        getproperty onMouse
        callpropvoid addEventListener, 2
        returnvoid
    end

    method paintBigPlay():void
        local g, radius
        getlocal0
        pushscope
        getlocal0
        getproperty bigPlay
        getproperty graphics
        setlocal g
        getlex Math
        getlocal0
        getproperty stageW
        getlocal0
        getproperty areaH
        callproperty min, 2
        pushdouble 0.14
        multiply
        convert_d
        setlocal radius
        getlocal g
        pushbyte 0
        pushdouble 0.55
        callpropvoid beginFill, 2
        getlocal g
        pushbyte 0
        pushbyte 0
        getlocal radius
        callpropvoid drawCircle, 3
        getlocal g
        callpropvoid endFill, 0
        getlocal0
        getlocal g
        getlocal radius
        pushdouble 0.08
        multiply
        pushbyte 0
        getlocal radius
        pushdouble 1.1
        multiply
        callpropvoid playGlyph, 4
        returnvoid
    end

    override method refreshControls():void
        local g, done
        getlocal0
        pushscope
        # play or pause glyph on a transparent face that takes the clicks
        getlocal0
        getproperty button
        getproperty graphics
        setlocal g
        getlocal g
        callpropvoid clear, 0
        getlocal0
        getlocal g
        pushbyte 0
        pushbyte 0
        pushbyte 0
        pushbyte 0
        getlocal0
        getproperty BAR
        getlocal0
        getproperty BAR
        callpropvoid box, 7
        getlocal0
        getproperty playing
        iffalse showPlay
        getlocal0
        getlocal g
        pushbyte 15
        pushbyte 15
        pushbyte 14
        callpropvoid pauseGlyph, 4
        jump trackPart
    showPlay:
        getlocal0
        getlocal g
        pushbyte 15
        pushbyte 15
        pushbyte 15
        callpropvoid playGlyph, 4
    trackPart:
        getlocal0
        getproperty track
        getproperty graphics
        setlocal g
        getlocal g
        callpropvoid clear, 0
        getlocal0
        getlocal g
        pushbyte 0
        pushbyte 0
        pushbyte 0
        pushbyte 0
        getlocal0
        getproperty trackW
        getlocal0
        getproperty BAR
        callpropvoid box, 7
        getlocal0
        getlocal g
        getlocal0
        getproperty TRACK_COLOUR
        pushbyte 1
        pushbyte 0
        pushdouble 13.5
        getlocal0
        getproperty trackW
        pushbyte 3
        callpropvoid box, 7
        getlocal0
        callproperty progress, 0
        getlocal0
        getproperty trackW
        multiply
        convert_d
        setlocal done
        getlocal0
        getlocal g
        getlocal0
        getproperty PROGRESS_COLOUR
        pushbyte 1
        pushbyte 0
        pushdouble 13.5
        getlocal done
        pushbyte 3
        callpropvoid box, 7
        getlocal g
        getlocal0
        getproperty GLYPH_COLOUR
        callpropvoid beginFill, 1
        getlocal g
        getlocal done
        pushbyte 15
        pushbyte 4
        callpropvoid drawCircle, 3
        getlocal g
        callpropvoid endFill, 0
        # time, big button, auto-hide
        getlocal0
        getproperty timeText
        getlocal0
        getlocal0
        callproperty position, 0
        callproperty clock, 1
        pushstring " / "
        add
        getlocal0
        getlocal0
        getproperty total
        callproperty clock, 1
        add
        setproperty text
        getlocal0
        getproperty bigPlay
        getlocal0
        getproperty playing
        not
        dup
        iffalse bigDone
        pop
        getlocal0
        pushstring "showbigplay"
        callproperty setting, 1
        convert_b
    bigDone:
        setproperty visible
        getlocal0
        getproperty autohide
        iffalse shown
        getlocal0
        getproperty bar
        findpropstrict flash.utils.getTimer
        callproperty flash.utils.getTimer, 0
        getlocal0
        getproperty hideAt
        lessthan
        setproperty visible
    shown:
        returnvoid
    end

    method onSeek(e):void
        getlocal0
        pushscope
        getlocal0
        getlocal0
        getproperty track
        getproperty mouseX
        getlocal0
        getproperty trackW
        divide
        callpropvoid seekTo, 1
        getlocal0
        callpropvoid refreshControls, 0
        returnvoid
    end

    method onMouse(e):void
        getlocal0
        pushscope
        getlocal0
        findpropstrict flash.utils.getTimer
        callproperty flash.utils.getTimer, 0
        getlocal0
        getproperty HIDE_AFTER_MS
        add
        setproperty hideAt
        returnvoid
    end

    # "m:ss"-style clock text, minutes and seconds both two digits.
    method clock(seconds:Number):String
        local whole, minutes
        getlocal0
        pushscope
        getlocal seconds
        convert_i
        setlocal whole
        getlocal whole
        pushbyte 60
        divide
        convert_i
        setlocal minutes
        getlocal0
        getlocal minutes
        callproperty twoDigits, 1
        pushstring ":"
        add
        getlocal0
        getlocal whole
        pushbyte 60
        modulo
        callproperty twoDigits, 1
        add
        returnvalue
    end

    method twoDigits(n:int):String
        getlocal0
        pushscope
        getlocal n
        pushbyte 10
        ifge plain
        pushstring "0"
        getlocal n
        add
        returnvalue
    plain:
        getlocal n
        convert_s
        returnvalue
    end

    method sprite(parent, x:Number, y:Number):*
        local s
        getlocal0
        pushscope
        findpropstrict flash.display.Sprite
        constructprop flash.display.Sprite, 0
        setlocal s
        getlocal s
        getlocal x
        setproperty x
        getlocal s
        getlocal y
        setproperty y
        getlocal parent
        getlocal s
        callpropvoid addChild, 1
        getlocal s
        returnvalue
    end

    method box(g, colour:uint, alpha:Number, x:Number, y:Number, w:Number, h:Number):void
        getlocal0
        pushscope
        getlocal g
        getlocal colour
        getlocal alpha
        callpropvoid beginFill, 2
        getlocal g
        getlocal x
        getlocal y
        getlocal w
        getlocal h
        callpropvoid drawRect, 4
        getlocal g
        callpropvoid endFill, 0
        returnvoid
    end

    # A triangle pointing right in the square of side `size` centred at (cx, cy).
    method playGlyph(g, cx:Number, cy:Number, size:Number):void
        local left
        getlocal0
        pushscope
        getlocal cx
        getlocal size
        pushdouble 0.35
        multiply
        subtract
        setlocal left
        getlocal g
        getlocal0
        getproperty GLYPH_COLOUR
        callpropvoid beginFill, 1
        getlocal g
        getlocal left
        getlocal cy
        getlocal size
        pushbyte 2
        divide
        subtract
        callpropvoid moveTo, 2
        getlocal g
        getlocal cx
        getlocal size
        pushdouble 0.45
        multiply
        add
        getlocal cy
        callpropvoid lineTo, 2
        getlocal g
        getlocal left
        getlocal cy
        getlocal size
        pushbyte 2
        divide
        add
        callpropvoid lineTo, 2
        getlocal g
        callpropvoid endFill, 0
        returnvoid
    end

    # Two bars in the square of side `size` centred at (cx, cy).
    method pauseGlyph(g, cx:Number, cy:Number, size:Number):void
        getlocal0
        pushscope
        getlocal0
        getlocal g
        getlocal0
        getproperty GLYPH_COLOUR
        pushbyte 1
        getlocal cx
        getlocal size
        pushdouble 0.35
        multiply
        subtract
        getlocal cy
        getlocal size
        pushbyte 2
        divide
        subtract
        getlocal size
        pushdouble 0.25
        multiply
        getlocal size
        callpropvoid box, 7
        getlocal0
        getlocal g
        getlocal0
        getproperty GLYPH_COLOUR
        pushbyte 1
        getlocal cx
        getlocal size
        pushdouble 0.1
        multiply
        add
        getlocal cy
        getlocal size
        pushbyte 2
        divide
        subtract
        getlocal size
        pushdouble 0.25
        multiply
        getlocal size
        callpropvoid box, 7
        returnvoid
    end
end
