#include "platforms/renren/RennParams.h"

#include <functional>
#include <utility>

GetAlbumParam::GetAlbumParam()
    : RennParam(kRennServiceTypeGetAlbum, "/v2/album/get", "GET",
                {{"albumId", RennFieldKind::String}, {"ownerId", RennFieldKind::String}}) {}
PutAlbumParam::PutAlbumParam()
    : RennParam(kRennServiceTypePutAlbum, "/v2/album/put", "POST",
                {{"location", RennFieldKind::String},
                 {"description", RennFieldKind::String},
                 {"name", RennFieldKind::String},
                 {"accessControl", RennFieldKind::String},
                 {"password", RennFieldKind::String}}) {}
ListAlbumParam::ListAlbumParam()
    : RennParam(kRennServiceTypeListAlbum, "/v2/album/list", "GET",
                {{"ownerId", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}
GetBlogParam::GetBlogParam()
    : RennParam(kTypeGetBlog, "/v2/blog/get", "GET",
                {{"blogId", RennFieldKind::String},
                 {"ownerId", RennFieldKind::String},
                 {"password", RennFieldKind::String}}) {}
PutBlogParam::PutBlogParam()
    : RennParam(kTypePutBlog, "/v2/blog/put", "POST",
                {{"title", RennFieldKind::String},
                 {"accessControl", RennFieldKind::String},
                 {"password", RennFieldKind::String},
                 {"content", RennFieldKind::String}}) {}
ListBlogParam::ListBlogParam()
    : RennParam(kTypeListBlog, "/v2/blog/list", "GET",
                {{"ownerId", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}},
                0) {}
PutCommentParam::PutCommentParam()
    : RennParam(kRennServiceTypePutComment, "/v2/comment/put", "POST",
                {{"entryOwnerId", RennFieldKind::String},
                 {"entryId", RennFieldKind::String},
                 {"commentType", RennFieldKind::String},
                 {"targetUserId", RennFieldKind::String},
                 {"content", RennFieldKind::String}}) {}
ListCommentParam::ListCommentParam()
    : RennParam(kRennServiceTypeListComment, "/v2/comment/list", "GET",
                {{"entryOwnerId", RennFieldKind::String},
                 {"entryId", RennFieldKind::String},
                 {"commentType", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}
PutFeedParam::PutFeedParam()
    : RennParam(kRennServiceTypePutFeed, "/v2/feed/put", "POST",
                {{"message", RennFieldKind::String},
                 {"title", RennFieldKind::String},
                 {"actionTargetUrl", RennFieldKind::String},
                 {"imageUrl", RennFieldKind::String},
                 {"description", RennFieldKind::String},
                 {"subtitle", RennFieldKind::String},
                 {"actionName", RennFieldKind::String},
                 {"targetUrl", RennFieldKind::String}}) {}
ListFeedParam::ListFeedParam()
    : RennParam(kRennServiceTypeListFeed, "/v2/feed/list", "GET",
                {{"feedType", RennFieldKind::String},
                 {"userId", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}
PutNotificationAsUserParam::PutNotificationAsUserParam()
    : RennParam(kRennServiceTypePutNotificationAsUser, "/v2/notification/user/put", "POST",
                {{"content", RennFieldKind::String}, {"userIds", RennFieldKind::List}}) {}
PutNotificationAsAppParam::PutNotificationAsAppParam()
    : RennParam(kRennServiceTypePutNotificationAsApp, "/v2/notification/app/put", "POST",
                {{"content", RennFieldKind::String}, {"userIds", RennFieldKind::List}}) {}
PutInvitationParam::PutInvitationParam()
    : RennParam(kRennServiceTypePutInvitation, "/v2/invitation/put", "POST",
                {{"invitationType", RennFieldKind::String},
                 {"userId", RennFieldKind::String},
                 {"img", RennFieldKind::String},
                 {"giftName", RennFieldKind::String},
                 {"url", RennFieldKind::String}}) {}
GetPhotoParam::GetPhotoParam()
    : RennParam(kRennServiceTypeGetPhoto, "/v2/photo/get", "GET",
                {{"albumId", RennFieldKind::String},
                 {"photoId", RennFieldKind::String},
                 {"ownerId", RennFieldKind::String},
                 {"password", RennFieldKind::String}}) {}
UploadPhotoParam::UploadPhotoParam()
    : RennParam(
          kRennServiceTypeUploadPhoto, "/v2/photo/upload", "POST",
          {{"albumId", RennFieldKind::String}, {"description", RennFieldKind::String}, {"file", RennFieldKind::Data}}) {
}
ListPhotoParam::ListPhotoParam()
    : RennParam(kRennServiceTypeListPhoto, "/v2/photo/list", "GET",
                {{"albumId", RennFieldKind::String},
                 {"ownerId", RennFieldKind::String},
                 {"password", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}
GetProfileParam::GetProfileParam()
    : RennParam(kRennServiceTypeGetProfile, "/v2/profile/get", "GET", {{"userId", RennFieldKind::String}}) {}
GetShareParam::GetShareParam()
    : RennParam(kRennServiceTypeGetShare, "/v2/share/get", "GET",
                {{"shareId", RennFieldKind::String}, {"ownerId", RennFieldKind::String}}) {}
PutShareUgcParam::PutShareUgcParam()
    : RennParam(kRennServiceTypePutShareUgc, "/v2/share/ugc/put", "POST",
                {{"ugcOwnerId", RennFieldKind::String},
                 {"comment", RennFieldKind::String},
                 {"ugcId", RennFieldKind::String},
                 {"ugcType", RennFieldKind::String}}) {}
PutShareUrlParam::PutShareUrlParam()
    : RennParam(kRennServiceTypePutShareUrl, "/v2/share/url/put", "POST",
                {{"comment", RennFieldKind::String}, {"url", RennFieldKind::String}}) {}
ListShareParam::ListShareParam()
    : RennParam(kRennServiceTypeListShare, "/v2/share/list", "GET",
                {{"ownerId", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}
ListHotShareParam::ListHotShareParam()
    : RennParam(kRennServiceTypeListHotShare, "/v2/share/hot/list", "GET",
                {{"shareType", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}
GetStatusParam::GetStatusParam()
    : RennParam(kRennServiceTypeGetStatus, "/v2/status/get", "GET",
                {{"statusId", RennFieldKind::String}, {"ownerId", RennFieldKind::String}}) {}
PutStatusParam::PutStatusParam()
    : RennParam(kRennServiceTypePutStatus, "/v2/status/put", "POST", {{"content", RennFieldKind::String}}) {}
ListStatusParam::ListStatusParam()
    : RennParam(kRennServiceTypeListStatus, "/v2/status/list", "GET",
                {{"ownerId", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}
ShareStatusParam::ShareStatusParam()
    : RennParam(kRennServiceTypeShareStatus, "/v2/status/share", "POST",
                {{"content", RennFieldKind::String},
                 {"statusId", RennFieldKind::String},
                 {"ownerId", RennFieldKind::String}}) {}
ListUbbParam::ListUbbParam() : RennParam(kRennServiceTypeListUbb, "/v2/ubb/list", "GET", {}) {}
GetUserParam::GetUserParam()
    : RennParam(kRennServiceTypeGetUser, "/v2/user/get", "GET", {{"userId", RennFieldKind::String}}) {}
BatchUserParam::BatchUserParam()
    : RennParam(kRennServiceTypeBatchUser, "/v2/user/batch", "GET", {{"userIds", RennFieldKind::List}}) {}
ListUserFriendMutualParam::ListUserFriendMutualParam()
    : RennParam(kRennServiceTypeListUserFriendMutual, "/v2/user/friend/mutual/list", "GET",
                {{"userId", RennFieldKind::String}}) {}
ListUserFriendParam::ListUserFriendParam()
    : RennParam(kRennServiceTypeListUserFriend, "/v2/user/friend/list", "GET",
                {{"userId", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}
ListUserFriendAppParam::ListUserFriendAppParam()
    : RennParam(kRennServiceTypeListUserFriendApp, "/v2/user/friend/app/list", "GET", {}) {}
ListUserFriendUninstallAppParam::ListUserFriendUninstallAppParam()
    : RennParam(kRennServiceTypeListUserFriendUninstallApp, "/v2/user/friend/uninstall/list", "GET", {}) {}
GetUserLoginParam::GetUserLoginParam() : RennParam(kRennServiceTypeGetLogin, "/v2/user/login/get", "GET", {}) {}
PutLikeParam::PutLikeParam()
    : RennParam(kRennServiceTypePutLike, "/v2/like/ugc/put", "POST",
                {{"ugcOwnerId", RennFieldKind::String},
                 {"likeUGCType", RennFieldKind::String},
                 {"ugcId", RennFieldKind::String}}) {}
RemoveLikeParam::RemoveLikeParam()
    : RennParam(kRennServiceTypeRemoveLike, "/v2/like/ugc/remove", "POST",
                {{"ugcOwnerId", RennFieldKind::String},
                 {"likeUGCType", RennFieldKind::String},
                 {"ugcId", RennFieldKind::String}}) {}
GetUgcInfoParam::GetUgcInfoParam()
    : RennParam(kRennServiceTypeGetUgcInfo, "/v2/like/ugc/info/get", "GET",
                {{"limit", RennFieldKind::String},
                 {"withLikeUsers", RennFieldKind::String},
                 {"likeUGCType", RennFieldKind::String},
                 {"ugcId", RennFieldKind::String}}) {}
GetAppParam::GetAppParam() : RennParam(kRennServiceTypeGetApp, "/v2/app/get", "GET", {}) {}
GetLocationParam::GetLocationParam()
    : RennParam(kRennServiceTypeGetLocation, "/v2/location/get", "GET",
                {{"deflection", RennFieldKind::String},
                 {"longitude", RennFieldKind::String},
                 {"latitude", RennFieldKind::String}}) {}
ListLocationFeedParam::ListLocationFeedParam()
    : RennParam(kRennServiceTypeListLocationFeed, "/v2/location/feed/list", "GET",
                {{"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer},
                 {"locationFeedType", RennFieldKind::String},
                 {"radius", RennFieldKind::String},
                 {"longitude", RennFieldKind::String},
                 {"latitude", RennFieldKind::String}}) {}
ListPlaceParam::ListPlaceParam()
    : RennParam(kRennServiceTypeListPlace, "/v2/place/list", "GET",
                {{"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer},
                 {"placeName", RennFieldKind::String},
                 {"radius", RennFieldKind::String},
                 {"longitude", RennFieldKind::String},
                 {"latitude", RennFieldKind::String},
                 {"deflection", RennFieldKind::String}}) {}
ListPlaceFeedParam::ListPlaceFeedParam()
    : RennParam(kRennServiceTypeListPlaceFeed, "/v2/place/feed/list", "GET",
                {{"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer},
                 {"placeId", RennFieldKind::String},
                 {"locationFeedType", RennFieldKind::String}}) {}
SetPhotoHeadParam::SetPhotoHeadParam()
    : RennParam(kRennServiceTypeSetPhotoHead, "/v2/photo/head/set", "POST", {{"photoId", RennFieldKind::String}}) {}
GetNewsCountParam::GetNewsCountParam()
    : RennParam(kRennServiceTypeGetNewsCount, "/v2/news/counts/get", "GET", {{"newTypes", RennFieldKind::String}}) {}
ClearNewsCountParam::ClearNewsCountParam()
    : RennParam(kRennServiceTypeClearNewsCount, "/v2/news/count/clear", "GET", {{"newType", RennFieldKind::String}}) {}
ListFriendParam::ListFriendParam()
    : RennParam(kRennServiceTypeListFriend, "/v2/friend/list", "GET",
                {{"userId", RennFieldKind::String},
                 {"pageSize", RennFieldKind::Integer},
                 {"pageNumber", RennFieldKind::Integer}}) {}

namespace {

template <class T>
std::pair<std::string, std::function<std::shared_ptr<RennParam>()>> entry(const char* name) {
  return {name, [] { return std::make_shared<T>(); }};
}

const std::vector<std::pair<std::string, std::function<std::shared_ptr<RennParam>()>>>& table() {
  static const std::vector<std::pair<std::string, std::function<std::shared_ptr<RennParam>()>>> calls = {
      entry<GetAlbumParam>("GetAlbumParam"),
      entry<PutAlbumParam>("PutAlbumParam"),
      entry<ListAlbumParam>("ListAlbumParam"),
      entry<GetBlogParam>("GetBlogParam"),
      entry<PutBlogParam>("PutBlogParam"),
      entry<ListBlogParam>("ListBlogParam"),
      entry<PutCommentParam>("PutCommentParam"),
      entry<ListCommentParam>("ListCommentParam"),
      entry<PutFeedParam>("PutFeedParam"),
      entry<ListFeedParam>("ListFeedParam"),
      entry<PutNotificationAsUserParam>("PutNotificationAsUserParam"),
      entry<PutNotificationAsAppParam>("PutNotificationAsAppParam"),
      entry<PutInvitationParam>("PutInvitationParam"),
      entry<GetPhotoParam>("GetPhotoParam"),
      entry<UploadPhotoParam>("UploadPhotoParam"),
      entry<ListPhotoParam>("ListPhotoParam"),
      entry<GetProfileParam>("GetProfileParam"),
      entry<GetShareParam>("GetShareParam"),
      entry<PutShareUgcParam>("PutShareUgcParam"),
      entry<PutShareUrlParam>("PutShareUrlParam"),
      entry<ListShareParam>("ListShareParam"),
      entry<ListHotShareParam>("ListHotShareParam"),
      entry<GetStatusParam>("GetStatusParam"),
      entry<PutStatusParam>("PutStatusParam"),
      entry<ListStatusParam>("ListStatusParam"),
      entry<ShareStatusParam>("ShareStatusParam"),
      entry<ListUbbParam>("ListUbbParam"),
      entry<GetUserParam>("GetUserParam"),
      entry<BatchUserParam>("BatchUserParam"),
      entry<ListUserFriendMutualParam>("ListUserFriendMutualParam"),
      entry<ListUserFriendParam>("ListUserFriendParam"),
      entry<ListUserFriendAppParam>("ListUserFriendAppParam"),
      entry<ListUserFriendUninstallAppParam>("ListUserFriendUninstallAppParam"),
      entry<GetUserLoginParam>("GetUserLoginParam"),
      entry<PutLikeParam>("PutLikeParam"),
      entry<RemoveLikeParam>("RemoveLikeParam"),
      entry<GetUgcInfoParam>("GetUgcInfoParam"),
      entry<GetAppParam>("GetAppParam"),
      entry<GetLocationParam>("GetLocationParam"),
      entry<ListLocationFeedParam>("ListLocationFeedParam"),
      entry<ListPlaceParam>("ListPlaceParam"),
      entry<ListPlaceFeedParam>("ListPlaceFeedParam"),
      entry<SetPhotoHeadParam>("SetPhotoHeadParam"),
      entry<GetNewsCountParam>("GetNewsCountParam"),
      entry<ClearNewsCountParam>("ClearNewsCountParam"),
      entry<ListFriendParam>("ListFriendParam"),
  };
  return calls;
}

}  // namespace

std::shared_ptr<RennParam> RennParam::create(std::string_view className) {
  for (const auto& [name, make] : table())
    if (name == className) return make();
  return nullptr;
}

const std::vector<std::string>& RennParam::classNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const auto& call : table()) out.push_back(call.first);
    return out;
  }();
  return names;
}
